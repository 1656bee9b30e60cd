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
constexpr size_t kMaxHexDigits = 8;
constexpr uint32_t kMaxByte = 0xFF;
constexpr uint32_t kMaxCmxCode = 0xFF;
constexpr uint32_t kMaxSerialCode = 0xFFFF;
constexpr const char* kBlanks = " \t";
constexpr const char* kHexDigits = "0123456789abcdefABCDEF";

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
constexpr const char* kHeaderWhat = "header";

std::string WithoutPrefix(const std::string& text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return text.substr(2);
    return text;
}

// Whole text or nothing: a typed "12zz" must not quietly send 0x12.
uint32_t HexValue(const std::string& text, uint32_t max, const char* what) {
    const std::string digits = WithoutPrefix(text);
    if (digits.empty() || digits.find_first_not_of(kHexDigits) != std::string::npos)
        throw std::invalid_argument(what);
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 0;
    if (digits.size() - first > kMaxHexDigits) throw std::out_of_range(what);
    const unsigned long value = std::stoul(digits.substr(first), nullptr, 16);
    if (value > max) throw std::out_of_range(what);
    return static_cast<uint32_t>(value);
}

std::vector<std::string> Pieces(const std::string& text) {
    std::vector<std::string> pieces;
    size_t pos = text.find_first_not_of(kBlanks);
    while (pos != std::string::npos) {
        const size_t end = text.find_first_of(kBlanks, pos);
        pieces.push_back(text.substr(pos, end == std::string::npos ? end : end - pos));
        pos = end == std::string::npos ? end : text.find_first_not_of(kBlanks, end);
    }
    return pieces;
}

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

ConsoleRequest ConsoleOperation::Parse(const std::string& cmd, const std::string& payload,
                                       uint32_t max_code) {
    ConsoleRequest request;
    const std::vector<std::string> cmd_pieces = Pieces(cmd);
    // A blank inside the command ("0 7") is no command at all.
    if (cmd_pieces.size() != 1) throw std::invalid_argument(kHeaderWhat);
    request.cmd_text = WithoutPrefix(cmd_pieces.front());
    request.code = HexValue(cmd_pieces.front(), max_code, kHeaderWhat);
    for (const std::string& piece : Pieces(payload)) {
        // A byte is a byte: "0102" typed without its blank must not shrink to 02.
        request.payload.push_back(static_cast<uint8_t>(HexValue(piece, kMaxByte, kPayloadWhat)));
        if (!request.payload_text.empty()) request.payload_text += ' ';
        request.payload_text += WithoutPrefix(piece);
    }
    return request;
}

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
    bool ready = session_.connected && !session_.upgrading && !session_.downloading;
    if (kind == DeviceSession::kKindMinkaSerial) {
        ready = ready && session_.Serial() != nullptr;
    } else {
        const auto client = session_.Cmx();
        ready = ready && client && client->IsOpen();
    }
    if (!ready && kind != DeviceSession::kKindTcp) reporter_.Error(kNotReady);
    return ready;
}

bool ConsoleOperation::Exchange(int kind, const ConsoleRequest& request,
                                std::vector<uint8_t>& reply) {
    if (kind == DeviceSession::kKindMinkaSerial) {
        const auto serial = session_.Serial();
        return serial &&
               serial->SerialQuery(static_cast<uint8_t>(request.code), request.payload, reply,
                                   kSerialReplyTimeoutMs) == 0 &&
               reply.size() >= kSerialPayloadIndex;
    }
    const auto client = session_.Cmx();
    if (!client) return false;
    if (kind == DeviceSession::kKindSerialCmx) {
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
    const int kind = session_.kind.load();
    if (!Ready(kind)) return ConsoleOutcome::kRefused;
    const uint32_t max_code = kind == DeviceSession::kKindSerialCmx ? kMaxSerialCode : kMaxCmxCode;
    ConsoleRequest request;
    try {
        request = Parse(cmd_qs.toStdString(), payload_qs.toStdString(), max_code);
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
        reporter_.Error(kind == DeviceSession::kKindTcp         ? kCmxFailed
                        : kind == DeviceSession::kKindSerialCmx ? kSerialCmxFailed
                                                                : kMinkaFailed);
        return ConsoleOutcome::kFailed;
    }
    const size_t shown_end = std::min(reply.size(), kShownReplyBytes);
    if (kind == DeviceSession::kKindTcp) {
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
