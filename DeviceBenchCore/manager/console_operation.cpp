#include "DeviceBenchCore/manager/console_operation.h"

#include <QVariantMap>

#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "DeviceBenchCore/manager/device_session.h"

namespace {

constexpr size_t kCmxHeaderBytes = 8;
constexpr size_t kSerialHeaderIndex = 1;
constexpr size_t kSerialPayloadIndex = 2;
constexpr uint32_t kMaxCmxCode = 0xFF;
constexpr uint32_t kMaxSerialCode = 0xFFFF;

constexpr const char* kNotReady = "lidar is not connected, or lidar is upgrade";
constexpr const char* kCmxFailed =
    "Query cmx command fail. Please input right cmx command header and payload.";
constexpr const char* kSerialCmxFailed =
    "Query Serial command fail. Please check BytesFlow in Log Window. Please input right Serial "
    "command header and payload.";
constexpr const char* kMinkaFailed =
    "Query Serial command fail. Please input right Serial command header and payload.";
constexpr const char* kTooLong =
    "WARNING: This return payload is too long, only the first 1024 bytes are displayed. For a "
    "complete payload please use the log bytes flow function.";
constexpr const char* kBadPayload = "Incorrect CMX payload was entered. Parsing failed.";
constexpr const char* kBadHeader = "Incorrect CMX header was entered. Parsing failed.";
constexpr const char* kPayloadWhat = "payload";

std::string LocalTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%F %X", &local);
    return text;
}

}  // namespace

ConsoleOperation::ConsoleOperation(DeviceSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter) {}

QString ConsoleOperation::HexText(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    QString text;
    char pair[4];
    for (size_t i = from; i < to && i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof(pair), i == from ? "%02X" : " %02X", bytes[i]);
        text += QString::fromLatin1(pair);
    }
    return text;
}

bool ConsoleOperation::Ready(int kind) {
    const Link& link = session_.link;
    bool ready = link.connected && !link.upgrading && !link.downloading;
    if (kind == Link::kKindMinkaSerial) {
        ready = ready && session_.link.Serial() != nullptr;
    } else {
        const auto client = session_.link.Cmx();
        ready = ready && client && client->IsOpen();
    }
    if (!ready && kind != Link::kKindTcp) reporter_.Error(kNotReady);
    return ready;
}

bool ConsoleOperation::Exchange(int kind, const ConsoleRequest& request,
                                std::vector<uint8_t>& reply) {
    if (kind == Link::kKindMinkaSerial) {
        const auto serial = session_.link.Serial();
        return serial &&
               serial->SerialQuery(static_cast<uint8_t>(request.code), request.payload, reply,
                                   kSerialReplyTimeoutMs) == 0 &&
               reply.size() >= kSerialPayloadIndex;
    }
    const auto client = session_.link.Cmx();
    if (!client) return false;
    if (kind == Link::kKindSerialCmx) {
        return client->SerialTunnelQuery(request.payload, reply,
                                         static_cast<uint16_t>(request.code)) == 0 &&
               reply.size() >= kSerialPayloadIndex;
    }
    const int32_t result =
        client->QueryCommand(request.payload, reply, static_cast<uint8_t>(request.code), true);
    if (result == 0) return reply.size() >= kCmxHeaderBytes;
    // A header the client rejected (the sensor's own return code, another command) is still the
    // sensor's reply: the page shows it so the user sees the code. Negative codes mean no header.
    const int32_t code = client->GetLastRetCode();
    if (code < 0 || reply.size() < kCmxHeaderBytes) return false;
    reporter_.Log("The lidar answered command " + request.cmd_text + " with return code " +
                      std::to_string(code) + ".",
                  "WARNING");
    return true;
}

void ConsoleOperation::ParseFailed(const std::string& text_at_fault, const char* kind_name) {
    header_.clear();
    payload_.clear();
    std::printf("%s\n", kind_name);
    reporter_.Error(text_at_fault == kPayloadWhat ? kBadPayload : kBadHeader);
}

void ConsoleOperation::Record(const ConsoleRequest& request, const std::string& time) {
    QVariantMap entry;
    entry["record_time"] = QString::fromStdString(time);
    entry["send_cmd_history"] = QString::fromStdString(request.cmd_text);
    entry["send_payload_history"] = QString::fromStdString(request.payload_text);
    history_.prepend(entry);
    while (history_.size() > kMaxHistoryEntries)
        history_.removeLast();
}

ConsoleOutcome ConsoleOperation::Send(const QString& cmd_qs, const QString& payload_qs) {
    const int kind = session_.link.kind.load();
    if (!Ready(kind)) return ConsoleOutcome::kRefused;
    const uint32_t max_code = kind == Link::kKindSerialCmx ? kMaxSerialCode : kMaxCmxCode;
    ConsoleRequest request;
    try {
        request =
            command_text::ParseConsole(cmd_qs.toStdString(), payload_qs.toStdString(), max_code);
    } catch (const std::invalid_argument& e) {
        ParseFailed(e.what(), "Invalid_argument");
        return ConsoleOutcome::kFailed;
    } catch (const std::out_of_range& e) {
        ParseFailed(e.what(), "Out_of_range");
        return ConsoleOutcome::kFailed;
    }
    const std::string time = LocalTimeText();
    std::vector<uint8_t> reply;
    if (!Exchange(kind, request, reply)) {
        std::printf("query command failed!\n");
        header_.clear();
        payload_.clear();
        reporter_.Error(kind == Link::kKindTcp         ? kCmxFailed
                        : kind == Link::kKindSerialCmx ? kSerialCmxFailed
                                                       : kMinkaFailed);
        return ConsoleOutcome::kFailed;
    }
    const size_t shown_end = std::min(reply.size(), kShownReplyBytes);
    if (kind == Link::kKindTcp) {
        header_ = HexText(reply, 0, kCmxHeaderBytes);
        payload_ = HexText(reply, kCmxHeaderBytes, shown_end);
    } else {
        header_ = HexText(reply, kSerialHeaderIndex, kSerialHeaderIndex + 1);
        payload_ = HexText(reply, kSerialPayloadIndex, shown_end);
    }
    if (reply.size() > kShownReplyBytes) reporter_.Error(kTooLong);
    Record(request, time);
    last_code_ = request.code;
    return ConsoleOutcome::kSent;
}
