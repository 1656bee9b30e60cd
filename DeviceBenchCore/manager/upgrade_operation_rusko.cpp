// UpgradeOperation: the Rusko package upgrade. The package is checked whole before the line
// speed and the mode change; the components then go one by one through the serial tunnel.
#include <cstdio>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/ota_package.h"
#include "DeviceBenchCore/manager/upgrade_operation.h"

namespace {

constexpr const char* kRuskoNotReady = "lidar is not connected, or lidar is upgrading";
constexpr uint8_t kUpgradeMode = 4;
constexpr uint16_t kChangeModeCmd = 3;
// Mode-change reply body: [length, command, mode, partition, status].
constexpr size_t kModeReplyBytes = 5;
constexpr size_t kPartitionByte = 3;
constexpr size_t kStatusByte = 4;
constexpr size_t kFrameBytes = 1024;

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%x", value);
    return text;
}

}  // namespace

int UpgradeOperation::StartRusko(const std::string& path) {
    const Link& link = session_.link;
    const auto client = link.Cmx();
    if (!link.connected || link.upgrading || link.kind != Link::kKindSerialCmx || !client ||
        !client->IsOpen()) {
        Refuse(kRuskoNotReady);
        return -1;
    }
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, bytes, "Failed to open upgrade file")) return -1;
    const size_t file_bytes = bytes.size();
    auto package = std::make_shared<OtaPackage>(std::move(bytes));
    if (!package->LongEnough()) {
        Refuse("Upgrade package too small");
        return -1;
    }
    if (!package->MagicOk()) {
        reporter_.Log("Invalid OTA package magic", "INFO");
        reporter_.Error("Invalid Rusko OTA upgrade package");
        return -1;
    }
    const std::vector<std::string> outside = package->OutOfRange();
    if (!outside.empty()) {
        for (const std::string& name : outside)
            reporter_.Log("Component " + name + " data out of range", "INFO");
        reporter_.Error("Rusko upgrade: failed to extract " + outside.front());
        return -1;
    }
    return Launch(file_bytes, [this, package] { RunRusko(*package); });
}

void UpgradeOperation::RunRusko(const OtaPackage& package) {
    reporter_.Log("Rusko OTA package parsed: flags=0x" + Hex(package.Flags()) +
                      ", total_size=" + std::to_string(package.TotalSize()),
                  "INFO");
    bool partition_a = false;
    if (!EnterRuskoUpgrade(partition_a)) return;
    if (SendRuskoComponents(package, partition_a)) {
        Release();
        reporter_.Success("Rusko upgrade completed. The lidar will automatically reboot.");
    }
}

bool UpgradeOperation::EnterRuskoUpgrade(bool& partition_a) {
    const auto client = session_.link.Cmx();
    if (!client || client->SetSerialBaudRate(kRuskoFastBaud) != 0) {
        reporter_.Error("Rusko upgrade: set baudrate failed");
        return false;
    }
    std::vector<uint8_t> body;
    if (client->SerialTunnelQuery({kUpgradeMode, 0}, body, kChangeModeCmd) != 0 ||
        body.size() != kModeReplyBytes || body[1] != kChangeModeCmd || body[kStatusByte] != 0) {
        reporter_.Error("Rusko upgrade: change mode failed");
        return false;
    }
    partition_a = body[kPartitionByte] == 0;
    reporter_.Log(std::string("Rusko upgrade: current partition=") + (partition_a ? "A" : "B"),
                  "INFO");
    if (!Pause(Timings().rusko_mode_pause_ms)) return false;
    if (client->SetSerialBaudRate(kRuskoUpgradeBaud) != 0) {
        reporter_.Error("Rusko upgrade: set upgrade baudrate failed");
        return false;
    }
    return true;
}

bool UpgradeOperation::SendRuskoComponents(const OtaPackage& package, bool partition_a) {
    const std::vector<int> order = package.SendOrder(partition_a);
    int32_t total = 0;
    for (int index : order)
        total += static_cast<int32_t>((package.Extract(index).size() + kFrameBytes - 1) / kFrameBytes);
    progress_total_ = total;
    progress_ = 0;
    const auto client = session_.link.Cmx();
    int32_t done = 0;
    for (int index : order) {
        const std::string name = OtaPackage::Name(index);
        const std::vector<uint8_t> data = package.Extract(index);
        if (data.empty() || !client) {
            reporter_.Error("Rusko upgrade: failed to extract " + name);
            return false;
        }
        const uint32_t type = OtaPackage::FrameType(index);
        reporter_.Log("Rusko upgrade: sending " + name + " (type=0x0" + std::to_string(type) +
                          ", size=" + std::to_string(data.size()) + ")",
                      "INFO");
        std::atomic<int32_t> component_progress{0};
        const int32_t result = client->SendComponent(data, type, component_progress);
        done += component_progress.load();
        progress_ = done;
        if (result != 0) {
            reporter_.Error("Rusko upgrade: " + name + " failed, error=" + std::to_string(result));
            ReportFrameFailure(data.size(), static_cast<size_t>(component_progress.load()), result);
            return false;
        }
        reporter_.Log("Rusko upgrade: " + name + " completed", "INFO");
    }
    return true;
}
