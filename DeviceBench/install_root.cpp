#include "DeviceBench/install_root.h"

#include <QDir>
#include <QFileInfo>

const char* const kInstallMarkerFont = "fonts/Roboto-Regular-14.ttf";

InstallRoot FindInstallRoot(const QString& app_dir) {
    const QDir app(QFileInfo(app_dir).absoluteFilePath());
    const QString parent = QFileInfo(app.absolutePath() + "/..").canonicalFilePath();
    const QString parent_dir = parent.isEmpty() ? app.absolutePath() : parent;
    if (QFileInfo::exists(parent_dir + "/" + kInstallMarkerFont)) {
        return {parent_dir, true};
    }
    if (QFileInfo::exists(app.absolutePath() + "/" + kInstallMarkerFont)) {
        return {app.absolutePath(), true};
    }
    return {parent_dir, false};
}
