#pragma once
// Start-up steps of the DeviceBench shell that need the application object: palette, fonts,
// window icon and the start argument. All run on the UI thread before the main window exists.

#include <QPalette>
#include <QString>
#include <QStringList>

class QApplication;

//! The dark palette of the program, every role set for all colour groups.
QPalette DeviceBenchPalette();

//! Registers the two Roboto fonts below the working directory and makes the regular one the
//! application font. Missing or unreadable files only produce warnings.
void LoadApplicationFonts(QApplication& app);

//! Sets "png/DeviceBench-LOGO-black.svg" as the window icon; warns when the file is missing.
void SetApplicationIcon(QApplication& app);

//! The module name of the first argument after the program name that starts with
//! "-moduleLM=" (case-sensitive); empty when there is none.
QString ModuleNameFromArguments(const QStringList& arguments);
