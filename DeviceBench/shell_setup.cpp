#include "DeviceBench/shell_setup.h"

#include <QApplication>
#include <QColor>
#include <QDebug>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>

namespace {

const char* const kBoldFont = "fonts/Roboto-Bold-3.ttf";
const char* const kRegularFont = "fonts/Roboto-Regular-14.ttf";
const char* const kWindowIcon = "png/DeviceBench-LOGO-black.svg";
const char* const kModuleArgument = "-moduleLM=";

void SetRole(QPalette& palette, QPalette::ColorRole role, const QColor& color) {
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, role, color);
    }
}

// Returns the font id, or -1 after a warning.
int RegisterFont(const QString& relative_path) {
    const QString absolute = QFileInfo(relative_path).absoluteFilePath();
    if (!QFileInfo::exists(absolute)) {
        qWarning() << "[DeviceBench] Font file missing:" << relative_path
                   << "absolutePath:" << absolute;
        return -1;
    }
    const int id = QFontDatabase::addApplicationFont(absolute);
    if (id < 0) {
        qWarning() << "[DeviceBench] addApplicationFont failed:" << relative_path
                   << "absolutePath:" << absolute << "id:" << id;
    }
    return id;
}

}  // namespace

QPalette DeviceBenchPalette() {
    QPalette palette;
    const QColor near_black(1, 1, 1, 255);
    const QColor text("#EEEEEE");
    SetRole(palette, QPalette::ToolTipBase, QColor("#010101"));
    SetRole(palette, QPalette::AlternateBase, near_black);
    SetRole(palette, QPalette::Base, near_black);
    SetRole(palette, QPalette::Dark, QColor("#222325"));
    SetRole(palette, QPalette::Window, QColor("#2B2C2E"));
    SetRole(palette, QPalette::Mid, QColor("#2B2C2E"));
    SetRole(palette, QPalette::Button, QColor("#3A3D3F"));
    SetRole(palette, QPalette::Midlight, QColor("#4D4D4D"));
    SetRole(palette, QPalette::Light, QColor("#666666"));
    SetRole(palette, QPalette::Highlight, QColor("#999999"));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::BrightText,
                            QPalette::ButtonText, QPalette::HighlightedText,
                            QPalette::PlaceholderText}) {
        SetRole(palette, role, text);
    }
    return palette;
}

void LoadApplicationFonts(QApplication& app) {
    RegisterFont(kBoldFont);
    const int regular = RegisterFont(kRegularFont);
    if (regular < 0) {
        return;
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(regular);
    if (families.isEmpty()) {
        qWarning() << "[DeviceBench] applicationFontFamilies empty for"
                   << "Roboto-Regular absolutePath:" + QFileInfo(kRegularFont).absoluteFilePath();
        return;
    }
    QFont font = app.font();
    font.setFamily(families.first());
    app.setFont(font);
}

void SetApplicationIcon(QApplication& app) {
    const QFileInfo icon(kWindowIcon);
    if (!icon.exists()) {
        qWarning() << "[DeviceBench] Window icon missing absolutePath:" + icon.absoluteFilePath();
        return;
    }
    app.setWindowIcon(QIcon(icon.absoluteFilePath()));
}

QString ModuleNameFromArguments(const QStringList& arguments) {
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i).startsWith(kModuleArgument)) {
            return arguments.at(i).mid(static_cast<int>(qstrlen(kModuleArgument)));
        }
    }
    return QString();
}
