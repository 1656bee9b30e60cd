#include "DeviceBenchCore/manager/model_operation.h"

#include <QSaveFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "DeviceBenchCore/manager/device_session.h"
#include "libkrell/CmxClient/cmx_codes.h"
#include "libkrell/CmxClient/cmx_tunnel.h"

using krell::lidar::kCmdProbeNetwork;
using krell::lidar::kCmdSetDestination;
using krell::lidar::kCmdTunnel;
using krell::lidar::kCmxOk;
using krell::lidar::kTunnelOpGetSerialBaud;
using krell::lidar::TunnelPrefix;

namespace {

constexpr uint8_t kChangeModeCmd = 3;
constexpr uint8_t kQueryCmd = 2;
constexpr uint8_t kVersionQuery = 0x0F;
constexpr uint8_t kSerialNumberQuery = 0x0A;
constexpr uint8_t kFunctionSafetyQuery = 0x08;
constexpr uint8_t kFunctionSafetyKey = 0x21;
constexpr uint8_t kFunctionSafetyEcho = 0xA1;
constexpr uint8_t kImuRangeQuery = 0x0B;
constexpr uint8_t kCalibrationQuery = 0x07;
//! Length byte, command, sub-command, a zero, the data length L and the status: a calibration
//! body is L + 6 bytes, its data from byte 5.
constexpr size_t kCalibrationOverhead = 6;
constexpr size_t kCalibrationDataAt = 5;
constexpr uint8_t kStandbyMode = 11;
constexpr uint8_t kStandbyClearMode = 0;
constexpr uint8_t kSpinRateMode = 10;
constexpr uint8_t kSingleReturnMode = 8;
constexpr uint8_t kDualReturnMode = 9;
constexpr uint8_t kPblQueryMode = 1;
constexpr int kSerialQueryTimeoutMs = 3000;
constexpr size_t kVersionPayloadBytes = 27;
constexpr size_t kVersionReplyBytes = 30;
constexpr size_t kVersionBytes = 24;
constexpr size_t kSerialNumberPayloadBytes = 38;
constexpr size_t kSerialNumberMinReply = 37;
constexpr size_t kSerialNumberBytes = 32;
constexpr size_t kDataStart = 4;
//! Length byte, command, sub-command, echo, state and the status: the least a function-safety
//! body can hold.
constexpr size_t kFunctionSafetyMinBody = 6;
constexpr size_t kImuReplyBytes = 6;
constexpr size_t kBaudReplyBytes = 8;
constexpr size_t kDestinationReplyBytes = 18;
constexpr size_t kDestinationAt = 12;
constexpr uint8_t kImuAngularCodes[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x08};
constexpr int kImuAccelerationIndices = 4;
//! Shown for a version the sensor did not give.
const char* const kUnknownText = "xxxxxxxx";
const char* const kSafetyStates[] = {"Normal", "Warning", "Shutdown"};
const char* const kCalibrationFileFailure =
    "create calibration file fail, save correction file error";

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

bool ShapeOk(const std::vector<uint8_t>& body, uint8_t cmd, uint8_t sub) {
    return body.size() > 2 && body[1] == cmd && body[2] == sub;
}

std::string TrimmedText(const uint8_t* bytes, size_t count) {
    std::string text(reinterpret_cast<const char*>(bytes), count);
    while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
    return text;
}

//! A positive decimal number that fits 32 bits; 0 for anything else.
uint32_t ParseBaud(const std::string& text) {
    if (text.empty() || text.size() > 10) return 0;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value > UINT32_MAX ? 0 : static_cast<uint32_t>(value);
}

}  // namespace

ModelOperation::ModelOperation(DeviceSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter) {}

bool ModelOperation::Ready(bool upgrading_text) {
    Link& link = session_.link;
    const int kind = link.kind.load();
    const bool client = kind == Link::kKindMinkaSerial ? link.Serial() != nullptr
                        : kind == Link::kKindSerialCmx ? link.Cmx() != nullptr
                                                       : false;
    if (link.connected.load() && client && !link.upgrading.load()) return true;
    Refuse(upgrading_text ? "lidar is not connected, or lidar is upgrading"
                                   : "lidar is not connected, or lidar is upgrade");
    return false;
}

bool ModelOperation::RequireCmxKind(const char* message) {
    if (session_.link.kind.load() == Link::kKindSerialCmx) return true;
    Refuse(message);
    return false;
}

void ModelOperation::Refuse(const std::string& text) {
    reporter_.Error(text);
    reporter_.Log(text, "WARNING");
}

void ModelOperation::Fail(const std::string& text, int result) {
    const std::string line = text + std::to_string(result);
    reporter_.Error(line);
    reporter_.Log(line, "ERROR");
}

int ModelOperation::Exchange(const std::function<int()>& conversation) {
    const auto turn = session_.link.HoldExchange();
    // An upgrade may have claimed the sensor while this call waited for its turn; the sensor
    // then takes nothing but the upgrade's frames.
    if (session_.link.upgrading.load()) return krell::lidar::kCmxFailed;
    return conversation();
}

int ModelOperation::ExchangeOnCmx(const std::function<int(krell::lidar::CmxClient&)>& conversation) {
    return Exchange([&]() -> int {
        const auto cmx = session_.link.Cmx();  // gone when the link ended meanwhile
        return cmx ? conversation(*cmx) : krell::lidar::kCmxFailed;
    });
}

int ModelOperation::Query(uint8_t cmd, const std::vector<uint8_t>& payload,
                          std::vector<uint8_t>& body) {
    return Exchange([&]() -> int {
        if (session_.link.kind.load() == Link::kKindMinkaSerial) {
            const auto serial = session_.link.Serial();
            if (!serial) return krell::lidar::SerialClient::kNotReady;
            return serial->SerialQuery(cmd, payload, body, kSerialQueryTimeoutMs);
        }
        const auto cmx = session_.link.Cmx();
        if (!cmx) return krell::lidar::kCmxFailed;
        return cmx->SerialTunnelQuery(payload, body, cmd);
    });
}

int ModelOperation::ChangeMode(uint8_t mode, uint8_t arg) {
    std::vector<uint8_t> body;
    const int result = Query(kChangeModeCmd, {mode, arg}, body);
    if (result != 0) return result;
    if (body.size() != 5 || !ShapeOk(body, kChangeModeCmd, mode)) return kWrongShape;
    return body[4];
}

void ModelOperation::RunChangeMode(uint8_t mode, uint8_t arg, const char* failure) {
    if (!Ready(false)) return;
    const int result = ChangeMode(mode, arg);
    if (result != 0) Fail(failure, result);
}

void ModelOperation::SetStandby(int on) {
    RunChangeMode(on > 0 ? kStandbyMode : kStandbyClearMode, 0, "set lidar mode error, ret:");
}

void ModelOperation::SetSpinRate(int rate) {
    RunChangeMode(kSpinRateMode, static_cast<uint8_t>(rate & 0xFF),
                  "set lidar spin rate error, ret:");
}

void ModelOperation::SetReturnMode(int mode) {
    RunChangeMode(mode != 0 ? kDualReturnMode : kSingleReturnMode, 0,
                  "set lidar return mode error, ret:");
}

bool ModelOperation::DecodeFunctionSafety(const std::vector<uint8_t>& body,
                                          std::vector<std::string>& entries) {
    // A body without its state byte and status would have us read the status as the state.
    if (body.size() < kFunctionSafetyMinBody || !ShapeOk(body, kQueryCmd, kFunctionSafetyQuery) ||
        body[3] != kFunctionSafetyEcho) {
        return false;
    }
    const uint8_t state = body[kDataStart];
    entries.clear();
    entries.push_back(state < 3 ? kSafetyStates[state] : std::to_string(state));
    // Codes run up to the status byte; an odd byte left over is no code.
    for (size_t at = kDataStart + 1; at + 2 <= body.size() - 1; at += 2) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%04X", body[at] | body[at + 1] << 8);
        entries.push_back(code);
    }
    return true;
}

std::vector<std::string> ModelOperation::FunctionSafety() {
    if (!Ready(false)) return {};
    std::vector<uint8_t> body;
    int result = Query(kQueryCmd, {kFunctionSafetyQuery, kFunctionSafetyKey}, body);
    std::vector<std::string> entries;
    if (result == 0 && !DecodeFunctionSafety(body, entries)) result = kWrongShape;
    if (result == 0) result = body.back();
    if (result != 0) {
        Fail("get function safety error, ret:", result);
        return {};
    }
    return entries;
}

std::string ModelOperation::GetBaudRate() {
    if (!RequireCmxKind("GetBaudRate is only supported in CMX serial mode") || !Ready(true))
        return {};
    std::vector<uint8_t> reply;
    int result = ExchangeOnCmx([&](krell::lidar::CmxClient& cmx) {
        return cmx.QueryCommand(TunnelPrefix(kTunnelOpGetSerialBaud), reply, kCmdTunnel, false);
    });
    if (result == kCmxOk && reply.size() < kBaudReplyBytes) result = kWrongShape;
    if (result != kCmxOk) {
        Fail("get baud rate error, ret:", result);
        return {};
    }
    const uint32_t baud = static_cast<uint32_t>(reply[4]) << 24 | reply[5] << 16 |
                          reply[6] << 8 | reply[7];
    return std::to_string(baud);
}

bool ModelOperation::SetBaudRate(const std::string& text, uint32_t& baud) {
    if (!RequireCmxKind("SetBaudRate is only supported in CMX serial mode") || !Ready(false))
        return false;
    const uint32_t value = ParseBaud(text);
    if (value == 0) {
        Refuse("invalid baud rate value");
        return false;
    }
    const int result = ExchangeOnCmx(
        [&](krell::lidar::CmxClient& cmx) { return cmx.SetSerialBaudRate(value); });
    if (result != kCmxOk) {
        Fail("set baud rate error, ret:", result);
        return false;
    }
    reporter_.Success("set baud rate successful");
    baud = value;
    return true;
}

std::vector<std::string> ModelOperation::GetDestination(bool silent) {
    if (!RequireCmxKind("GetDestinationConfig is only supported in CMX serial mode") ||
        !Ready(false)) {
        return {};
    }
    std::vector<uint8_t> reply;
    int result = ExchangeOnCmx([&](krell::lidar::CmxClient& cmx) {
        return cmx.QueryCommand({}, reply, kCmdProbeNetwork, false);
    });
    if (result == kCmxOk && reply.size() < kDestinationReplyBytes) result = kWrongShape;
    if (result != kCmxOk) {
        if (!silent) Fail("get destination config error, ret:", result);
        return {};
    }
    const uint8_t* at = reply.data() + kDestinationAt;
    std::ostringstream ip;
    ip << int(at[0]) << '.' << int(at[1]) << '.' << int(at[2]) << '.' << int(at[3]);
    return {ip.str(), std::to_string(at[4] << 8 | at[5])};
}

bool ModelOperation::SetDestination(const std::string& ip, int port) {
    if (!RequireCmxKind("SetDestinationIPandPort is only supported in CMX serial mode") ||
        !Ready(false)) {
        return false;
    }
    std::vector<uint8_t> payload;
    std::istringstream parts(ip);
    std::string part;
    while (std::getline(parts, part, '.') && payload.size() < 4)
        payload.push_back(static_cast<uint8_t>(std::strtoul(part.c_str(), nullptr, 10)));
    payload.resize(4, 0);
    PutBigEndian(payload, static_cast<uint32_t>(port), 2);
    PutBigEndian(payload, kSecondDestinationPort, 2);
    std::vector<uint8_t> reply;
    const int result = ExchangeOnCmx([&](krell::lidar::CmxClient& cmx) {
        const int sent = cmx.QueryCommand(payload, reply, kCmdSetDestination, false);
        return sent == kCmxOk ? sent : cmx.GetLastRetCode();
    });
    if (result != kCmxOk) {
        Fail("set destination IP and port error, ret:", result);
        return false;
    }
    reporter_.Success("set destination IP and port successful");
    return true;
}

void ModelOperation::SetImuRange(int angular_index, int acceleration_index) {
    if (!RequireCmxKind("Rusko IMU range setting is only supported in CMX_SERIAL mode") ||
        !Ready(false)) {
        return;
    }
    if (angular_index < 0 || angular_index > 5) {
        Refuse("Invalid angular range index");
        return;
    }
    if (acceleration_index < 0 || acceleration_index >= kImuAccelerationIndices) {
        Refuse("Invalid acceleration range index");
        return;
    }
    std::vector<uint8_t> body;
    int result = Query(kQueryCmd,
                       {kImuRangeQuery, kImuAngularCodes[angular_index],
                        static_cast<uint8_t>(acceleration_index)},
                       body);
    if (result == 0) {
        result = body.size() == kImuReplyBytes && ShapeOk(body, kQueryCmd, kImuRangeQuery)
                     ? body[5]
                     : kWrongShape;
    }
    if (result != 0) {
        Fail("set IMU range error, ret:", result);
        return;
    }
    reporter_.Success("IMU range set successfully");
}

int ModelOperation::Version(uint8_t selector, std::string& version) {
    std::vector<uint8_t> payload{kVersionQuery, selector};
    payload.resize(kVersionPayloadBytes, 0);
    const bool serial_pbl =
        selector == kPblVersion && session_.link.kind.load() == Link::kKindMinkaSerial;
    const auto serial = session_.link.Serial();
    if (serial_pbl) ChangeMode(kPblQueryMode, 0);
    std::vector<uint8_t> body;
    int result = Query(kQueryCmd, payload, body);
    // The sensor stays in the query mode until told otherwise.
    if (serial_pbl && serial) ChangeMode(serial->CurrentMode(), 0);
    if (result != 0) return result;
    if (body.size() != kVersionReplyBytes || !ShapeOk(body, kQueryCmd, kVersionQuery))
        return kWrongShape;
    if (body.back() != 0) return body.back();
    version = TrimmedText(body.data() + kDataStart, kVersionBytes);
    return 0;
}

std::string ModelOperation::PblVersion() {
    querying_pbl_ = true;
    reporter_.Notify(ManagerEvent::kPblQueryChanged);
    std::string version;
    const int result = Version(kPblVersion, version);
    querying_pbl_ = false;
    reporter_.Notify(ManagerEvent::kPblQueryChanged);
    if (result != 0) Fail("get pbl version error, ret:", result);
    return version;
}

std::vector<std::string> ModelOperation::RuskoVersions() {
    static const char* const kFailures[] = {"Failed to get BMB FPGA version, ret:",
                                            "Failed to get TMB FPGA version, ret:",
                                            "Failed to get BMB MCU version, ret:"};
    std::vector<std::string> versions;
    for (uint8_t selector : {kBmbFpgaVersion, kTmbFpgaVersion, kBmbMcuVersion}) {
        std::string version;
        const int result = Version(selector, version);
        if (result != 0) {
            reporter_.Log(kFailures[selector] + std::to_string(result), "ERROR");
            version = kUnknownText;
        }
        versions.push_back(version);
    }
    return versions;
}

int ModelOperation::SerialNumber(std::string& number) {
    std::vector<uint8_t> payload{kSerialNumberQuery, 0x01};
    payload.resize(kSerialNumberPayloadBytes, 0);
    std::vector<uint8_t> body;
    int result = Query(kQueryCmd, payload, body);
    if (result == 0 && (body.size() < kSerialNumberMinReply ||
                        !ShapeOk(body, kQueryCmd, kSerialNumberQuery))) {
        result = kWrongShape;
    }
    if (result == 0) result = body.back();
    if (result != 0) {
        reporter_.Log("Minka-CMX get SN failed, ret:" + std::to_string(result), "ERROR");
        return result;
    }
    const std::string text = TrimmedText(body.data() + kDataStart, kSerialNumberBytes);
    for (char c : text) {
        if (c < 32 || c > 126) {
            reporter_.Log("Minka-CMX SN invalid after validation", "ERROR");
            return 1;
        }
    }
    number = text;
    return 0;
}

int ModelOperation::DecodeCalibration(const std::vector<uint8_t>& body,
                                      std::vector<uint8_t>& data) {
    if (body.size() < kCalibrationOverhead || !ShapeOk(body, kQueryCmd, kCalibrationQuery) ||
        body[3] != 0 || body.size() != body[4] + kCalibrationOverhead) {
        return kWrongShape;
    }
    if (body.back() != 0) return body.back();
    data.assign(body.begin() + kCalibrationDataAt, body.end() - 1);
    return 0;
}

int ModelOperation::Correction(const std::string& path) {
    if (!Ready(false)) return -1;
    std::vector<uint8_t> body;
    int result = Query(kQueryCmd, {kCalibrationQuery, 0x00}, body);
    std::vector<uint8_t> data;
    if (result == 0) result = DecodeCalibration(body, data);
    if (result != 0) {
        Fail("get calibration error, ret:", result);
        return -1;
    }
    // QSaveFile writes beside `path` and renames on commit; a failure removes its temporary
    // file, so an older calibration file is never left half overwritten. Unbuffered, because a
    // buffered flush takes a short write (a full disk, a file-size limit) as done and commits
    // a cut file.
    QSaveFile out(QString::fromStdString(path));
    const bool written =
        out.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<qint64>(data.size())) ==
            static_cast<qint64>(data.size()) &&
        out.commit();
    if (!written) {
        out.cancelWriting();
        reporter_.Error(kCalibrationFileFailure);
        reporter_.Log(kCalibrationFileFailure, "ERROR");
        return -1;
    }
    return 0;
}
