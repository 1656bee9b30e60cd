#pragma once
// Where DeviceBench finds its fonts, icons and variable tables: the install root.

#include <QString>

struct InstallRoot {
    QString path;        // absolute directory to make the working directory
    bool found = false;  // false: neither candidate held the marker font (path is the parent)
};

//! The install root for an executable living in `app_dir`: its parent when that holds the
//! marker font "fonts/Roboto-Regular-14.ttf", else `app_dir` when it does, else the parent with
//! `found` false. Reads the file system only.
InstallRoot FindInstallRoot(const QString& app_dir);

//! The marker file, relative to the install root.
extern const char* const kInstallMarkerFont;
