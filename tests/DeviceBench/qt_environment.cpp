#include "tests/DeviceBench/qt_environment.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QMutex>
#include <QThread>

#include <memory>

#include "DeviceBench/shell_setup.h"
#include "tests/support/temp_dir.h"

namespace devicebench_test {
namespace {

QMutex g_warnings_mutex;
QStringList g_warnings;

void RecordMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg) {
        return;
    }
    QMutexLocker lock(&g_warnings_mutex);
    g_warnings.append(message);
}

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        home_ = std::make_unique<krell::test::TempDir>();
        const QByteArray home = QByteArray::fromStdString(home_->Path());
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", home + "/.config");
        qputenv("XDG_DATA_HOME", home + "/.local/share");
        qputenv("XDG_RUNTIME_DIR", home + "/runtime");
        QDir().mkpath(home + "/runtime");
        QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner |
                                                     QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner);
        // Under Xvfb (DISPLAY set) the pages render for real and the tests leave pictures;
        // elsewhere they run offscreen on the software scene graph.
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            qputenv("QT_QUICK_BACKEND", "software");
        } else {
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
        static int argc = 1;
        static char name[] = "devicebench_pages_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        QDir::setCurrent(KRELL_DEVICEBENCH_ROOT);
        QApplication::setPalette(DeviceBenchPalette());
        qInstallMessageHandler(RecordMessage);
    }
    void TearDown() override {
        qInstallMessageHandler(nullptr);
        app_.reset();
        home_.reset();
    }

private:
    std::unique_ptr<krell::test::TempDir> home_;
    std::unique_ptr<QApplication> app_;
};

::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

QStringList TakeWarnings() {
    QMutexLocker lock(&g_warnings_mutex);
    QStringList result = g_warnings;
    g_warnings.clear();
    return result;
}

bool Spin(const std::function<bool()>& predicate, int limit_ms) {
    QElapsedTimer clock;
    clock.start();
    while (!predicate()) {
        if (clock.elapsed() > limit_ms) {
            return predicate();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void SpinFor(int duration_ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < duration_ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

QString ScreenshotDir() {
    QDir().mkpath(KRELL_SCREENSHOT_DIR);
    return KRELL_SCREENSHOT_DIR;
}

}  // namespace devicebench_test
