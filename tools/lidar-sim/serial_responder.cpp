#include "tools/lidar-sim/serial_responder.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>

#include "libkrell/Frame/serial_frame.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr uint8_t kImuAngularCodes[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x08};
constexpr uint8_t kImuAccelerationCodeLimit = 0x03;
constexpr uint8_t kFunctionSafetyKey = 0x21;
constexpr uint8_t kFunctionSafetyEcho = 0xA1;
constexpr uint8_t kSpinRateMode = 10;
constexpr uint8_t kStandbyMode = 11;
constexpr uint8_t kStandbyClearMode = 0;
constexpr uint8_t kSingleReturnMode = 8;
constexpr uint8_t kDualReturnMode = 9;
constexpr uint8_t kGarbageByte = 0x5C;

std::vector<uint8_t> Padded(const char* text, size_t size) {
    std::vector<uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), text, std::min(size, std::strlen(text)));
    return bytes;
}

}  // namespace

SerialResponder::SerialResponder() {
    for (int i = 0; i < 48; ++i)
        state_.calibration.push_back(static_cast<uint8_t>(0xC0 + i));
}

std::vector<uint8_t> SerialResponder::VersionBytes(uint8_t selector) {
    switch (selector) {
        case 0:
            return Padded("BMB-FPGA 2.4.1", kVersionBytes);
        case 1:
            return Padded("TMB-FPGA 2.4.0", kVersionBytes);
        case 2:
            return Padded("BMB-MCU 1.9.7", kVersionBytes);
        case 5:
            return Padded("PBL 1.0.3", kVersionBytes);
        default:
            return {};
    }
}

std::vector<uint8_t> SerialResponder::Answer(const std::vector<uint8_t>& request) {
    SerialFrame::Layout request_layout;
    std::vector<uint8_t> body;
    if (!SerialFrame::Check(request.data(), request.size(), SerialFrame::kRequestTag,
                            request_layout, &body)) {
        return {};
    }
    const uint8_t cmd = body[1];
    const std::vector<uint8_t> payload(body.begin() + 2, body.end());
    Faults faults;
    std::vector<uint8_t> data;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++state_.requests;
        faults = faults_;
        data = Dispatch(cmd, payload);
    }
    if (faults.no_reply) return {};
    if (faults.delay_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(faults.delay_ms));
    SerialFrame::Layout reply_layout;
    reply_layout.length_bias = 0;
    std::vector<uint8_t> reply(faults.garbage_bytes, kGarbageByte);
    const std::vector<uint8_t> frame =
        SerialFrame::Encode(SerialFrame::kReplyTag, cmd, data.data(), data.size(), reply_layout);
    reply.insert(reply.end(), frame.begin(), frame.end());
    if (faults.bad_crc) reply[reply.size() - 3] ^= 0x01;
    return reply;
}

std::vector<uint8_t> SerialResponder::Dispatch(uint8_t cmd, const std::vector<uint8_t>& payload) {
    if (cmd == kChangeModeCmd) return ChangeMode(payload);
    if (cmd == kQueryCmd) return Query(payload);
    return {payload.empty() ? uint8_t{0} : payload[0], kStatusRefused};
}

std::vector<uint8_t> SerialResponder::ChangeMode(const std::vector<uint8_t>& payload) {
    if (payload.size() < 2) return {0, state_.partition, kStatusRefused};
    const uint8_t mode = payload[0];
    const uint8_t arg = payload[1];
    if (mode == kSpinRateMode) state_.spin_rate = arg;
    if (mode == kStandbyMode) state_.standby = true;
    if (mode == kStandbyClearMode) state_.standby = false;
    if (mode == kSingleReturnMode || mode == kDualReturnMode) state_.return_mode = mode;
    state_.mode = mode;
    return {mode, state_.partition, kStatusOk};
}

std::vector<uint8_t> SerialResponder::Query(const std::vector<uint8_t>& payload) {
    const uint8_t what = payload.empty() ? 0 : payload[0];
    const uint8_t arg = payload.size() > 1 ? payload[1] : 0;
    std::vector<uint8_t> data = {what};
    switch (what) {
        case kVersionQuery: {
            const std::vector<uint8_t> version = VersionBytes(arg);
            data.push_back(arg);
            data.insert(data.end(), version.begin(), version.end());
            data.resize(2 + kVersionBytes + 1, 0);
            data.push_back(version.empty() ? kStatusRefused : kStatusOk);
            return data;
        }
        case kSerialNumberQuery: {
            data.push_back(arg);
            const std::vector<uint8_t> number =
                Padded(state_.serial_number.c_str(), kSerialNumberBytes);
            data.insert(data.end(), number.begin(), number.end());
            data.push_back(kStatusOk);
            return data;
        }
        case kCalibrationQuery:
            data.push_back(0);
            data.push_back(static_cast<uint8_t>(state_.calibration.size()));
            data.insert(data.end(), state_.calibration.begin(), state_.calibration.end());
            data.push_back(kStatusOk);
            return data;
        case kFunctionSafetyQuery:
            if (arg != kFunctionSafetyKey) break;
            data.push_back(kFunctionSafetyEcho);
            data.push_back(state_.safety_state);
            for (uint16_t code : state_.safety_codes) {
                data.push_back(static_cast<uint8_t>(code));
                data.push_back(static_cast<uint8_t>(code >> 8));
            }
            data.push_back(kStatusOk);
            return data;
        case kImuRangeQuery: {
            const uint8_t acceleration = payload.size() > 2 ? payload[2] : 0xFF;
            bool known = false;
            for (uint8_t code : kImuAngularCodes)
                known = known || code == arg;
            const bool valid =
                payload.size() > 2 && known && acceleration <= kImuAccelerationCodeLimit;
            if (valid) {
                state_.imu_angular_code = arg;
                state_.imu_acceleration_code = acceleration;
            }
            return {what, arg, acceleration, valid ? kStatusOk : kStatusRefused};
        }
        case kUpgradeRequest:
            state_.upgrade_type = arg;
            return {what, arg, kStatusOk};
        default:
            break;
    }
    return {what, kStatusRefused};
}

SerialResponder::State SerialResponder::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void SerialResponder::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
}

SerialResponder::Faults SerialResponder::CurrentFaults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

void SerialResponder::SetPartition(uint8_t partition) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.partition = partition;
}

void SerialResponder::SetSerialBaud(uint32_t baud) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.serial_baud = baud;
}

void SerialResponder::SetCalibration(std::vector<uint8_t> data) {
    // The reply states the length in one byte.
    if (data.size() > UINT8_MAX) data.resize(UINT8_MAX);
    std::lock_guard<std::mutex> lock(mutex_);
    state_.calibration = std::move(data);
}

void SerialResponder::SetFunctionSafety(uint8_t state, std::vector<uint16_t> codes) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.safety_state = state;
    state_.safety_codes = std::move(codes);
}

void SerialResponder::SetSerialNumber(std::string number) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.serial_number = std::move(number);
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
