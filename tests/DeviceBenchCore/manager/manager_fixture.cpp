#include "tests/DeviceBenchCore/manager/manager_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "DeviceBenchCore/manager/device_bench_manager.h"
#include "tests/support/temp_dir.h"
#include "tools/lidar-sim/builtin_handlers.h"

namespace krell {
namespace test {
namespace {

constexpr int kEventStepMs = 5;

TempDir& Home() {
    static TempDir home;
    return home;
}

}  // namespace

std::string TestHome() {
    return Home().Path();
}

void EnsureManagerApp() {
    static QCoreApplication* app = nullptr;
    if (app) return;
    const std::string home = Home().Path();
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    unsetenv("XDG_DOCUMENTS_DIR");
    QStandardPaths::setTestModeEnabled(true);
    static int argc = 1;
    static char name[] = "devicebench_manager_test";
    static char* argv[] = {name, nullptr};
    app = new QCoreApplication(argc, argv);
    if (home.empty() ||
        !DeviceBenchManager::SettingsFilePath().startsWith(QString::fromStdString(home))) {
        std::fprintf(stderr, "settings file outside the test home: %s\n",
                     DeviceBenchManager::SettingsFilePath().toStdString().c_str());
        std::abort();
    }
    QDir::setCurrent(KRELL_DEVICEBENCH_DIR);
}

bool WaitWithEvents(const std::function<bool()>& predicate, int limit_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!predicate()) {
        if (timer.elapsed() > limit_ms) return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventStepMs);
        QThread::msleep(kEventStepMs);
    }
    return true;
}

void SpinEvents(int ms) {
    WaitWithEvents([] { return false; }, ms);
}

TableSim::TableSim(const std::string& model, const std::string& table_path, bool tls,
                   const std::string& cert, const std::string& key, const std::string& ca)
    : device_(std::make_shared<lidar::sim::SimDevice>()),
      commands_(std::make_shared<std::vector<uint8_t>>()),
      commands_mutex_(std::make_shared<std::mutex>()) {
    lidar::sim::RegisterBuiltinHandlers(*device_, model);
    std::string error;
    const std::string path =
        table_path.empty() ? lidar::sim::TableResponder::FindTable(model) : table_path;
    responder_ = lidar::sim::TableResponder::Load(path, model, error);
    if (!responder_) return;
    responder_->Install(*device_);
    // Every command code goes through a recorder in front of its handler.
    for (int code = 0; code < 256; ++code) {
        const uint8_t cmd = static_cast<uint8_t>(code);
        lidar::sim::CommandHandler inner = device_->HandlerFor(cmd);
        lidar::sim::SimDevice* device = device_.get();
        auto commands = commands_;
        auto mutex = commands_mutex_;
        device_->SetHandler(
            cmd, [inner, device, commands, mutex](const lidar::sim::SimRequest& request) {
                {
                    std::lock_guard<std::mutex> lock(*mutex);
                    commands->push_back(request.cmd);
                }
                return inner ? inner(request) : device->StoreAndReturn(request);
            });
    }
    server_ = std::make_unique<lidar::sim::SimServer>(device_);
    lidar::sim::SimServerOptions options;
    options.tls = tls;
    options.cert_path = cert;
    options.key_path = key;
    options.ca_path = ca;
    ok_ = server_->Start(options);
}

std::unique_ptr<DeviceBenchManager> ConnectedManager(uint16_t port, const QString& model) {
    auto manager =
        std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
    manager->InitConfigFileParser(model);
    manager->setIpAddress("127.0.0.1");
    manager->setPort(QString::number(port));
    if (manager->ConnectLidar() && WaitWithEvents([&] { return manager->IsConnected(); })) {
        SpinEvents(20);  // the queued notices of the connection
    }
    return manager;
}

std::vector<uint8_t> TableSim::Commands() const {
    std::lock_guard<std::mutex> lock(*commands_mutex_);
    return *commands_;
}

void TableSim::SilenceAfter(uint8_t cmd, int answered) {
    lidar::sim::CommandHandler inner = device_->HandlerFor(cmd);
    auto count = std::make_shared<std::atomic<int>>(0);
    device_->SetHandler(cmd, [inner, count, answered](const lidar::sim::SimRequest& request) {
        lidar::sim::SimReply reply = inner(request);
        if (count->fetch_add(1) >= answered) reply.send = false;
        return reply;
    });
}

}  // namespace test
}  // namespace krell
