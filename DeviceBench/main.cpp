// DeviceBench: the program's entry. Prepares scaling, palette, fonts and the working directory,
// then shows the main window with the QML pages until it is closed.
#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

#include <memory>

#include "DeviceBench/demo_script.h"
#include "DeviceBench/install_root.h"
#include "DeviceBench/main_window.h"
#include "DeviceBench/scale_factor.h"
#include "DeviceBench/scene_graph_backend.h"
#include "DeviceBench/shell_setup.h"
#include "DeviceBench/termination_signals.h"

namespace {

const char* const kOrganisationName = "KrellTech";
const char* const kOrganisationDomain = "krelltech.example";
const char* const kApplicationVersion = "1.0.1";
constexpr int kScaleDigits = 6;

// The screen can only be asked through an application object, and the scale has to be in the
// environment before the real one exists, so a short-lived one measures the primary screen.
ScaleFactor MeasureScreenScale(int argc, char* argv[]) {
    int probe_argc = argc;
    QGuiApplication probe(probe_argc, argv);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return ScaleFactor();
    }
    const QSize logical = screen->geometry().size();
    const QSize physical = logical * screen->devicePixelRatio();
    return ComputeScaleFactor(logical, physical);
}

void MoveToInstallRoot() {
    const QString app_dir = QCoreApplication::applicationDirPath();
    const InstallRoot root = FindInstallRoot(app_dir);
    if (!root.found) {
        qWarning() << "[DeviceBench] install root heuristic: missing" << kInstallMarkerFont << "in"
                   << QDir(app_dir + "/..").absolutePath() << "and" << app_dir;
    }
    QDir::setCurrent(root.path);
    qDebug() << "[DeviceBench] applicationDirPath:" << app_dir << "installRoot:" << root.path;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_DisableHighDpiScaling);
    const DemoOptions demo = DemoOptions::FromArguments(argc, argv);
    ScaleFactor scale = MeasureScreenScale(argc, argv);
    if (demo.scale > 0.0) {
        scale.scale = demo.scale;
    }
    qDebug() << "main dpi= " << scale.ratio << " scale= " << scale.scale;
    qputenv("QT_SCALE_FACTOR", QByteArray::number(scale.scale, 'g', kScaleDigits));

    QApplication app(argc, argv);
    TerminationSignals termination_signals;
    ChooseSceneGraphBackend();
    MoveToInstallRoot();
    const QPalette palette = DeviceBenchPalette();
    LoadApplicationFonts(app);
    QApplication::setPalette(palette);
    QCoreApplication::setOrganizationName(kOrganisationName);
    QCoreApplication::setOrganizationDomain(kOrganisationDomain);
    QCoreApplication::setApplicationVersion(kApplicationVersion);
    SetApplicationIcon(app);

    MainWindow window(nullptr, ModuleNameFromArguments(QCoreApplication::arguments()));
    window.setPalette(palette);
    window.show();
    std::unique_ptr<DemoScript> script;
    if (demo.enabled) {
        script = std::make_unique<DemoScript>(window, demo.output_dir);
        script->Start();
    }
    return app.exec();
}
