#include "DeviceBenchCore/manager/minka_info_loop.h"

#include <arpa/inet.h>

#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/minka_info_decoder.h"
#include "DeviceBenchCore/manager/model_operation.h"
#include "libkrell/Source/socket_source.h"

using krell::lidar::SocketSource;
using krell::lidar::UdpPacket;

namespace {

constexpr int32_t kPointCloudType = 0;
constexpr const char* kSerialCmxMinka = "Minka-CMX";
constexpr const char* kRusko = "Rusko-CMX";

}  // namespace

MinkaInfoLoop::MinkaInfoLoop(DeviceSession& session, Reporter& reporter, ModelOperation& model)
    : session_(session), reporter_(reporter), model_(model) {}

MinkaInfoLoop::~MinkaInfoLoop() {
    Stop();
}

void MinkaInfoLoop::Start(uint16_t udp_port) {
    std::lock_guard<std::mutex> control(control_mutex_);
    StopLocked();
    {
        std::lock_guard<std::mutex> lock(stop_mutex_);
        stop_ = false;
    }
    {
        std::lock_guard<std::mutex> lock(snapshot_mutex_);
        snapshot_ = MinkaInfoSnapshot();
    }
    session_.table.ForgetInfoValues();
    running_ = true;
    thread_ = std::thread([this, udp_port] { Run(udp_port); });
}

void MinkaInfoLoop::Stop() {
    std::lock_guard<std::mutex> control(control_mutex_);
    StopLocked();
}

void MinkaInfoLoop::StopLocked() {
    {
        std::lock_guard<std::mutex> lock(stop_mutex_);
        stop_ = true;
        // A UDP wait ends at once instead of running out.
        if (udp_ != nullptr) udp_->AbortWaits();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    running_ = false;
}

MinkaInfoSnapshot MinkaInfoLoop::Snapshot() const {
    std::lock_guard<std::mutex> lock(snapshot_mutex_);
    return snapshot_;
}

bool MinkaInfoLoop::WaitForStop(int ms) {
    std::unique_lock<std::mutex> lock(stop_mutex_);
    return wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

bool MinkaInfoLoop::Stopping() {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    return stop_;
}

void MinkaInfoLoop::Run(uint16_t udp_port) {
    serial_cmx_minka_ = session_.table.Model() == kSerialCmxMinka;
    passes_ = 0;
    dirty_ = false;
    last_notify_ = std::chrono::steady_clock::now();
    ReadIdentity();
    if (session_.link.kind.load() == Link::kKindSerialCmx) {
        RunUdp(udp_port);
    } else {
        RunSerial();
    }
    running_ = false;
}

void MinkaInfoLoop::ReadIdentity() {
    // An upgrade claimed right after connecting owns the sensor's modes; the page then goes
    // without the versions until the next connection.
    const Link& link = session_.link;
    if (Stopping() || !link.connected.load() || link.upgrading.load()) return;
    const std::string pbl = model_.PblVersion();
    std::vector<std::string> versions;
    if (session_.table.Model() == kRusko) versions = model_.RuskoVersions();
    {
        std::lock_guard<std::mutex> lock(snapshot_mutex_);
        snapshot_.pbl_version = pbl;
        snapshot_.rusko_versions = versions;
    }
    std::string number;
    if (serial_cmx_minka_ && model_.SerialNumber(number) == 0) {
        if (VarInfo* sn = session_.table.InfoVariable(MinkaInfoDecoder::kSerialNumberId))
            session_.table.SetCurrentValue(*sn, number);
    }
    reporter_.Notify(ManagerEvent::kMinkaInfoChanged);
}

void MinkaInfoLoop::RunUdp(uint16_t udp_port) {
    SocketSource source(udp_port, "", "");
    if (!source.Open()) {
        reporter_.Error(kUdpOpenFailure);
        reporter_.Log(kUdpOpenFailure, "ERROR");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(stop_mutex_);
        if (stop_) return;
        udp_ = &source;
    }
    UdpPacket packet{};
    while (!Stopping()) {
        if (!LinkReady()) continue;
        const int32_t got = source.Receive(packet, UdpPacket::kDataBytes, 0, kUdpWaitUs);
        if (got > 0) {
            Take(packet, got);
        } else if (got == SocketSource::kTruncated) {
            CountMalformed();
        }
        Pass();
    }
    std::lock_guard<std::mutex> lock(stop_mutex_);
    udp_ = nullptr;
}

void MinkaInfoLoop::RunSerial() {
    UdpPacket packet{};
    // Packets that broke off on the line never reach the queue; the line counts them.
    const krell::lidar::SerialSource* counted_line = nullptr;
    uint32_t cut_seen = 0;
    while (!Stopping()) {
        if (!LinkReady()) continue;
        const std::shared_ptr<krell::lidar::SerialSource> line = session_.link.PointLine();
        if (!line) {  // a link of another kind: nothing to read, and no reason to spin
            WaitForStop(kIdleWaitMs);
            continue;
        }
        if (line.get() != counted_line) {
            counted_line = line.get();
            cut_seen = line->CutPointCount();
        }
        const int32_t got =
            line->Receive(packet, UdpPacket::kDataBytes, kPointCloudType, kSerialWaitMs);
        if (got > 0) Take(packet, got);
        const uint32_t cut = line->CutPointCount();
        if (cut != cut_seen) CountMalformed(cut - cut_seen);
        cut_seen = cut;
        Pass();
    }
}

bool MinkaInfoLoop::LinkReady() {
    const Link& link = session_.link;
    if (link.connected.load() && !link.upgrading.load()) return true;
    WaitForStop(kIdleWaitMs);
    return false;
}

void MinkaInfoLoop::Take(const UdpPacket& packet, int32_t size) {
    const MinkaInfoDecoder::Kind kind =
        MinkaInfoDecoder::Classify(packet.data, static_cast<size_t>(size));
    if (kind == MinkaInfoDecoder::Kind::kMalformed) {
        CountMalformed();
        return;
    }
    if (kind != MinkaInfoDecoder::Kind::kInfo) return;
    {
        std::lock_guard<std::mutex> lock(snapshot_mutex_);
        ++snapshot_.info_packets;
        if (packet.ip != 0 && snapshot_.sender_ip.empty()) {
            char text[INET_ADDRSTRLEN] = {};
            in_addr address{};
            address.s_addr = packet.ip;
            inet_ntop(AF_INET, &address, text, sizeof text);
            snapshot_.sender_ip = text;
            dirty_ = true;
        }
    }
    const int id = packet.data[MinkaInfoDecoder::kIdAt];
    if (serial_cmx_minka_ && id == MinkaInfoDecoder::kSerialNumberId) return;
    VarInfo* var = session_.table.InfoVariable(id);
    if (var == nullptr) return;
    const std::string text = MinkaInfoDecoder::ValueText(
        *var, packet.data + MinkaInfoDecoder::kValueAt, session_.table.CurrentValue(*var));
    if (session_.table.ChangeCurrentValue(*var, text)) dirty_ = true;
}

void MinkaInfoLoop::CountMalformed(uint32_t packets) {
    std::lock_guard<std::mutex> lock(snapshot_mutex_);
    snapshot_.malformed_packets += packets;
    dirty_ = true;
}

void MinkaInfoLoop::Pass() {
    ++passes_;
    const auto now = std::chrono::steady_clock::now();
    const bool interval_passed = now - last_notify_ >= std::chrono::milliseconds(kNotifyIntervalMs);
    if (passes_ % kPassesPerNotify == 0 || (dirty_ && interval_passed)) {
        reporter_.Notify(ManagerEvent::kMinkaInfoChanged);
        dirty_ = false;
        last_notify_ = now;
    }
}
