// Firmware streaming over the CMX link: file-stream frames sent as ordinary commands, and OTA
// frames tunnelled through command 0xFF.
#include "libkrell/CmxClient/cmx_client.h"

#include <stdexcept>
#include <thread>
#include <utility>

#include "libkrell/CmxClient/cmx_parser.h"
#include "libkrell/Frame/file_stream_frame.h"
#include "libkrell/Frame/ota_frame.h"
#include "libkrell/Frame/ota_streamer.h"
#include "scribe/logger.h"

namespace krell {
namespace lidar {
namespace {

constexpr uint32_t kMaxCommandNumber = 0xFFFFFFFFu;

//! The command number of a file-stream command text; throws for anything but a base-16 number
//! of at most 32 bits (trailing characters included: "0x83 " is not "0x83").
uint32_t ParseCommandNumber(const std::string& text) {
    size_t used = 0;
    const unsigned long long value = std::stoull(text, &used, 16);
    if (used != text.size()) {
        throw std::invalid_argument("upgrade command \"" + text + "\" is not a base-16 number");
    }
    if (value > kMaxCommandNumber) {
        throw std::out_of_range("upgrade command \"" + text + "\" does not fit 32 bits");
    }
    return static_cast<uint32_t>(value);
}

std::string UpgradeBeginText(int32_t mode) {
    return mode == kUpgradeModeApp ? "begin to upgrade APP+FPGA" : "begin to upgrade PBL";
}

}  // namespace

void CmxClient::SetUpgradeTimings(uint32_t file_stream_timeout_ms, uint32_t component_timeout_ms,
                                  uint32_t mode_switch_pause_ms) {
    file_stream_timeout_ms_ = file_stream_timeout_ms;
    component_timeout_ms_ = component_timeout_ms;
    mode_switch_pause_ms_ = mode_switch_pause_ms;
}

void CmxClient::Report(const std::string& text) {
    std::lock_guard<std::mutex> lock(query_mutex_);
    EmitByteFlow(text);
}

int32_t CmxClient::FileStreamUpgrade(const std::vector<uint8_t>& image,
                                     const std::string& command_text,
                                     std::atomic<int32_t>& progress) {
    const uint32_t number = ParseCommandNumber(command_text);
    const uint8_t code = static_cast<uint8_t>(number);
    // A longer spelling ("0x0083") names a command that travels behind the tunnel prefix.
    const bool prefixed = command_text.size() != kFileStreamPlainCommandChars;
    if (image.empty()) {
        Report("file stream upgrade stopped: the firmware image is empty");
        return kUpgradeEmptyImage;
    }
    // Each frame is cut just before it goes out, into the same buffers: cutting the whole image
    // first kept the sensor waiting while thousands of frames were built and held a second copy of
    // the image. A cutter of its own leaves the request header of the shared parser to the
    // exchanges.
    CmxParser cutter(parser_->Version());
    std::vector<uint8_t> first;
    if (!cutter.CmxFilestreamFrame(image, code, 1, first)) {
        Report("file stream upgrade stopped: this protocol version cannot cut the image");
        return kUpgradeFailed;
    }
    const uint32_t timeout_ms = file_stream_timeout_ms_;
    if (ApplyTimeouts(timeout_ms, timeout_ms) != kCmxOk) {
        Report("file stream upgrade stopped: the link is not open");
        return kUpgradeFailed;
    }
    const int32_t result =
        SendFileStreamFrames(image, code, prefixed, cutter, std::move(first), progress);
    RestoreConfiguredTimeouts();
    return result;
}

int32_t CmxClient::SendFileStreamFrames(const std::vector<uint8_t>& image, uint8_t code,
                                        bool prefixed, CmxParser& cutter,
                                        std::vector<uint8_t> first,
                                        std::atomic<int32_t>& progress) {
    const size_t total = FileStreamFrame::FrameCount(image.size());
    const std::string of_total = " of " + std::to_string(total);
    std::vector<uint8_t> frame = std::move(first);
    std::vector<uint8_t> payload;
    std::vector<uint8_t> reply;
    for (size_t k = 0; k < total; ++k) {
        if (k > 0 && !cutter.CmxFilestreamFrame(image, code, k + 1, frame)) {
            Report("file stream upgrade stopped at frame " + std::to_string(k + 1) + of_total +
                   ": the frame could not be cut");
            return kUpgradeFailed;
        }
        if (prefixed) {
            payload.assign({0, 0, 0, code});
            payload.insert(payload.end(), frame.begin(), frame.end());
        }
        if (QueryCommand(prefixed ? payload : frame, reply, prefixed ? kCmdTunnel : code, false) !=
            kCmxOk) {
            Report("file stream upgrade stopped at frame " + std::to_string(k + 1) + of_total +
                   ": sensor status " + std::to_string(GetLastRetCode()));
            return kUpgradeFailed;
        }
        progress = static_cast<int32_t>(k + 1);
    }
    return kUpgradeOk;
}

int32_t CmxClient::StreamOtaImage(const std::vector<uint8_t>& image, uint32_t type,
                                  const std::string& progress_text,
                                  std::atomic<int32_t>& progress) {
    const OtaStreamer streamer(
        [this, type](uint32_t total, uint32_t index, const uint8_t* data, size_t size,
                     OtaFrame::Reply& reply) {
            return SendOtaFrame(total, index, static_cast<uint32_t>(size), data, reply.type,
                                reply.status, type);
        },
        [this](const std::string& text) { Report(text); }, progress_text);
    return streamer.Stream(image, progress);
}

int32_t CmxClient::TunnelUpgrade(const std::vector<uint8_t>& image, int32_t mode,
                                 std::atomic<int32_t>& progress) {
    if (!IsOpen()) return kUpgradeFailed;
    Report(UpgradeBeginText(mode));
    if (SetSerialBaudRate(FirstBaudRate()) != kCmxOk) {
        Report("change baudrate failed");
        return kUpgradeFailed;
    }
    // The sensor answers these before it switches; whether it switched shows in the frames.
    ChangeMode(kUpgradeChangeMode, 0);
    RequestUpgrade(static_cast<uint8_t>(mode == kUpgradeModeApp ? OtaFrame::kTypeApp
                                                                : OtaFrame::kTypePbl));
    std::this_thread::sleep_for(std::chrono::milliseconds(mode_switch_pause_ms_.load()));
    if (SetSerialBaudRate(SecondBaudRate()) != kCmxOk) {
        Report("change baudrate failed");
        RestoreConfiguredTimeouts();
        return kUpgradeFailed;
    }
    Report("begin to send ota data");
    const uint32_t type = mode == kUpgradeModeApp ? OtaFrame::kTypeApp : OtaFrame::kTypePbl;
    const int32_t result = StreamOtaImage(image, type, "ota send", progress);
    RestoreConfiguredTimeouts();
    return result;
}

int32_t CmxClient::SendComponent(const std::vector<uint8_t>& data, uint32_t type,
                                 std::atomic<int32_t>& progress) {
    if (!IsOpen()) return kUpgradeFailed;
    Report("begin to send component data, type=" + std::to_string(type));
    const uint32_t timeout_ms = component_timeout_ms_;
    ApplyTimeouts(timeout_ms, timeout_ms);
    const int32_t result = StreamOtaImage(data, type, "ota send ", progress);
    RestoreConfiguredTimeouts();
    return result;
}

}  // namespace lidar
}  // namespace krell
