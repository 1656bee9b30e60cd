#include "tests/DeviceBenchCore/manager/upgrade_fixture.h"

#include <QFile>
#include <QObject>

#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/Frame/ota_frame.h"
#include "tests/DeviceBenchCore/manager/manager_fixture.h"

namespace krell {
namespace test {

bool UpgradeTest::Start(const std::string& model) {
    EnsureManagerApp();
    lidar::sim::SerialSideOptions options;
    options.serial_lines = model == "Minka";
    setup_ = lidar::sim::SetUpSimulator(*device_, model, side_, options);
    EXPECT_TRUE(setup_.ok) << setup_.error;
    if (!setup_.ok) return false;
    RecordTraffic();
    server_ = std::make_unique<lidar::sim::SimServer>(device_);
    EXPECT_TRUE(server_->Start(lidar::sim::SimServerOptions{}));
    if (options.serial_lines) {
        manager_ = std::make_unique<DeviceBenchManager>(true, DeviceBenchManager::kDefaultTablePath);
        manager_->InitConfigFileParser(QString::fromStdString(model));
        manager_->setSerialPort485(QString::fromStdString(side_.Rs485Name()));
        manager_->setSerialPort232(QString::fromStdString(side_.UartName()));
        if (manager_->ConnectLidar()) WaitWithEvents([this] { return manager_->IsConnected(); });
    } else {
        manager_ = ConnectedManager(server_->Port(), QString::fromStdString(model));
    }
    EXPECT_TRUE(manager_->IsConnected());
    if (!manager_->IsConnected()) return false;
    QObject::connect(manager_.get(), &DeviceBenchManager::sendLogMessage,
                     [this](const QString& text, const QString&) {
                         std::lock_guard<std::mutex> lock(mutex_);
                         logs_ << text;
                     });
    UpgradeTimings timings;
    timings.start_pause_ms = 50;
    timings.restart_wait_ms = 50;
    timings.rusko_mode_pause_ms = 10;
    timings.file_stream_timeout_ms = 800;
    timings.component_timeout_ms = 800;
    timings.tunnel_pause_ms = 10;
    timings.ota_reply_timeout_ms = 800;
    manager_->SetUpgradeTimings(timings);
    return true;
}

void UpgradeTest::TearDown() {
    manager_.reset();
    if (server_) server_->Stop();
    side_.Stop();
}

void UpgradeTest::RecordTraffic() {
    for (int code = 0; code < 256; ++code) {
        const uint8_t cmd = static_cast<uint8_t>(code);
        lidar::sim::CommandHandler inner = device_->HandlerFor(cmd);
        lidar::sim::SimDevice* device = device_.get();
        device_->SetHandler(cmd, [this, inner, device](const lidar::sim::SimRequest& request) {
            const std::vector<uint8_t>& p = request.payload;
            lidar::OtaFrame::Fields fields;
            const bool ota = request.cmd == lidar::kCmdTunnel && p.size() > 4 && p[2] == 0x01 &&
                             p[3] == 0x38 &&
                             lidar::OtaFrame::Decode(p.data() + 4, p.size() - 4, fields) &&
                             fields.type != lidar::OtaFrame::kTypeStateQuery;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(request.cmd);
                if (ota) frames_.push_back({fields.type, fields.index, fields.data});
            }
            return inner ? inner(request) : device->StoreAndReturn(request);
        });
    }
}

std::string UpgradeTest::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.File(name);
    QFile file(QString::fromStdString(path));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return path;
}

bool UpgradeTest::WaitUntilIdle(int limit_ms) {
    const bool idle = WaitWithEvents([this] { return !manager_->IsUpgrading(); }, limit_ms);
    SpinEvents(30);  // the queued messages of the worker's last steps
    return idle;
}

QStringList UpgradeTest::Logs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return logs_;
}

bool UpgradeTest::Logged(const QString& part) const {
    for (const QString& line : Logs()) {
        if (line.contains(part)) return true;
    }
    return false;
}

std::vector<UpgradeTest::OtaFrameSeen> UpgradeTest::Frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<uint8_t> UpgradeTest::DataOfType(uint32_t type) const {
    std::vector<uint8_t> data;
    for (const OtaFrameSeen& frame : Frames()) {
        if (frame.type == type) data.insert(data.end(), frame.data.begin(), frame.data.end());
    }
    return data;
}

std::vector<uint8_t> UpgradeTest::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<uint8_t> UpgradeTest::Image(size_t size) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 31 + i / 1024 + 7);
    return image;
}

}  // namespace test
}  // namespace krell
