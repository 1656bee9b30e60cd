#include "tools/lidar-sim/table_responder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <set>

#include "DeviceBenchCore/table/config_parser.h"
#include "DeviceBenchCore/parsers/make_str_parser.h"
#include "libkrell/CmxClient/cmx_tunnel.h"

namespace krell {
namespace lidar {
namespace sim {
namespace {

constexpr size_t kHwverNameBytes = 9;
constexpr size_t kSwverNameBytes = 12;
constexpr size_t kVersionBytes = 16;
// No sensor value is longer; a larger VarLen is a broken table, not a reason to allocate it.
constexpr int32_t kMaxVarBytes = 64 * 1024;
// Largest reply a table may lay out (what the CMX client accepts).
constexpr size_t kMaxReplyBytes = 16u * 1024u * 1024u;
const char kFovGetCmd[] = "0x23";
const char kFovSetCmd[] = "0x22";
const std::set<std::string> kEncodedTypes = {"uint8",   "uint16", "uint32", "uint64",
                                             "int8",    "int16",  "int32",  "int64",
                                             "float32", "double", "IP",     "MAC"};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void PutBigEndian(std::vector<uint8_t>& out, size_t at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes && at + i < out.size(); ++i) {
        out[at + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
    }
}

std::vector<unsigned long> Numbers(const std::string& text, char sep) {
    std::vector<unsigned long> numbers;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(sep, start);
        if (end == std::string::npos) end = text.size();
        numbers.push_back(std::strtoul(text.substr(start, end - start).c_str(), nullptr, 10));
        start = end + 1;
    }
    return numbers;
}

// "CV_HW_RB_2.1.15[.3]": nine characters, then byte, byte, u16 and an optional u16.
std::vector<uint8_t> EncodeHwver(const std::string& text) {
    std::vector<uint8_t> out(kVersionBytes, 0);
    std::copy_n(text.begin(), std::min(text.size(), kHwverNameBytes), out.begin());
    if (text.size() <= kHwverNameBytes) return out;
    std::vector<unsigned long> n = Numbers(text.substr(kHwverNameBytes), '.');
    n.resize(4, 0);
    out[9] = static_cast<uint8_t>(n[0]);
    out[10] = static_cast<uint8_t>(n[1]);
    PutBigEndian(out, 11, n[2], 2);
    PutBigEndian(out, 13, n[3], 2);
    return out;
}

// "CV_APP_V1.4_24.11.30": twelve characters, then year, month and day bytes.
std::vector<uint8_t> EncodeSwver(const std::string& text) {
    std::vector<uint8_t> out(kVersionBytes, 0);
    std::copy_n(text.begin(), std::min(text.size(), kSwverNameBytes), out.begin());
    if (text.size() <= kSwverNameBytes) return out;
    std::vector<unsigned long> n = Numbers(text.substr(kSwverNameBytes), '.');
    n.resize(3, 0);
    for (size_t i = 0; i < 3; ++i)
        out[kSwverNameBytes + i] = static_cast<uint8_t>(n[i]);
    return out;
}

// "1 h 2 min 3 s" as big-endian seconds.
std::vector<uint8_t> EncodeDuration(const std::string& text, size_t bytes) {
    unsigned long hours = 0, minutes = 0, seconds = 0;
    std::sscanf(text.c_str(), "%lu h %lu min %lu s", &hours, &minutes, &seconds);
    std::vector<uint8_t> out(bytes, 0);
    PutBigEndian(out, 0, hours * 3600 + minutes * 60 + seconds, bytes);
    return out;
}

// Identity numbers such as a clock id need all 64 bits, which a float-based writer cannot carry:
// an unscaled integer default is stored exactly.
bool ExactInteger(const VarInfo& var, const std::string& text, size_t length,
                  std::vector<uint8_t>& bytes) {
    const std::string& type = var.var_type;
    const bool is_unsigned = type.rfind("uint", 0) == 0;
    if ((!is_unsigned && type.rfind("int", 0) != 0) || var.coefficient != 1.0f || text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const uint64_t value = is_unsigned
                               ? std::strtoull(text.c_str(), &end, 10)
                               : static_cast<uint64_t>(std::strtoll(text.c_str(), &end, 10));
    if (*end != '\0' || errno == ERANGE || (is_unsigned && text[0] == '-')) return false;
    bytes.assign(length, 0);
    PutBigEndian(bytes, 0, value, length);
    return true;
}

}  // namespace

std::shared_ptr<TableResponder> TableResponder::Load(const std::string& path,
                                                     const std::string& model, std::string& error) {
    std::shared_ptr<TableResponder> responder(new TableResponder);
    responder->model_ = model;
    responder->table_.reset(new ConfigParser(path));
    responder->table_->SetEchoDiagnostics(false);
    try {
        if (!responder->table_->ExtractConfigInfo()) {
            error = "cannot read the table " + path + ": " + responder->table_->OpenError();
            return nullptr;
        }
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
    if (!responder->Build(error)) return nullptr;
    responder->ResetValues();
    return responder;
}

TableResponder::~TableResponder() = default;

std::string TableResponder::FindTable(const std::string& model) {
    std::vector<std::string> candidates = {"./Config/varID/" + model + ".csv"};
#ifdef KRELL_SOURCE_TABLE_DIR
    candidates.push_back(std::string(KRELL_SOURCE_TABLE_DIR) + "/" + model + ".csv");
#endif
    for (const std::string& path : candidates) {
        if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
            std::fclose(file);
            return path;
        }
    }
    return std::string();
}

bool TableResponder::CommandBytes(const std::string& text, uint8_t& code,
                                  std::vector<uint8_t>& prefix) {
    prefix.clear();
    char* end = nullptr;
    if (text.empty()) return false;
    if (text.size() <= 4) {
        const unsigned long value = std::strtoul(text.c_str(), &end, 0);
        code = static_cast<uint8_t>(value);
        return *end == '\0' && value <= 0xFF;
    }
    code = kCmdTunnel;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::string pair = text.substr(i, 2);
        if (pair == "0x" || pair == "0X") continue;
        if (pair.size() != 2 || !std::isxdigit(static_cast<unsigned char>(pair[0])) ||
            !std::isxdigit(static_cast<unsigned char>(pair[1]))) {
            return false;
        }
        prefix.push_back(static_cast<uint8_t>(std::strtoul(pair.c_str(), nullptr, 16)));
    }
    return true;
}

std::vector<uint8_t> TableResponder::EncodeValue(const VarInfo& var, const std::string& text) {
    const size_t length = static_cast<size_t>(std::max(var.offset, 0));
    std::vector<uint8_t> bytes;
    if (ExactInteger(var, text, length, bytes)) return bytes;
    if (kEncodedTypes.count(var.var_type) != 0) {
        try {
            bytes = MakeStrParser(var.var_type)->Parse(text, var.coefficient);
        } catch (const std::exception&) {
            bytes.clear();  // a default the parsers refuse reads back as zeros
        }
    } else if (var.var_type == "string") {
        bytes.assign(text.begin(), text.end());
        if (length == 0) return bytes;  // a value as long as its text (the shared secret key)
    } else if (var.var_type == "HWVER") {
        bytes = EncodeHwver(text);
    } else if (var.var_type == "SWVER_YMD") {
        bytes = EncodeSwver(text);
    } else if (var.var_type == "DT") {
        bytes = EncodeDuration(text, length);
    }
    bytes.resize(length, 0);
    return bytes;
}

bool TableResponder::Build(std::string& error) {
    for (const VarInfo* var : table_->all_vars()) {
        if (var->offset < 0 || var->offset > kMaxVarBytes) {
            error = var->var_id + " \"" + var->var_name + "\" has a negative or oversized VarLen";
            return false;
        }
    }
    for (const auto& group : table_->get_groups()) {
        const VarInfo& lead = *group.second.front();
        if (lead.get_cmd == kFovGetCmd) continue;  // the built-in field-of-view handler answers it
        Command command;
        if (!CommandBytes(lead.get_cmd, command.code, command.prefix)) {
            error = "get command \"" + lead.get_cmd + "\" of " + lead.var_id + " is not a command";
            return false;
        }
        command.extended = lead.get_cmd.size() > 4;
        command.prefix.insert(command.prefix.end(), lead.get_payload_bytes.begin(),
                              lead.get_payload_bytes.end());
        command.is_get = true;
        command.vars = group.second;
        for (const VarInfo* var : command.vars) {
            command.length = std::max(command.length, static_cast<size_t>(var->get_start_pos) +
                                                          static_cast<size_t>(var->offset));
        }
        if (command.length > kMaxReplyBytes) {
            error = "get command \"" + lead.get_cmd + "\" lays out more than " +
                    std::to_string(kMaxReplyBytes) + " bytes";
            return false;
        }
        commands_.push_back(std::move(command));
    }
    for (const auto& group : table_->set_groups()) {
        const VarInfo& lead = *group.second.front();
        const bool upgrade = std::any_of(group.second.begin(), group.second.end(),
                                         [](const VarInfo* var) { return var->type == 4; });
        if (lead.set_cmd == kFovSetCmd || upgrade) continue;  // built-in or streaming handlers
        Command command;
        if (!CommandBytes(lead.set_cmd, command.code, command.prefix)) {
            error = "set command \"" + lead.set_cmd + "\" of " + lead.var_id + " is not a command";
            return false;
        }
        command.extended = lead.set_cmd.size() > 4;
        command.vars = group.second;
        for (const VarInfo* var : command.vars)
            command.length += static_cast<size_t>(var->offset);
        commands_.push_back(std::move(command));
    }
    return true;
}

std::string TableResponder::InitialText(const VarInfo& var) const {
    if (!var.default_val.empty()) return var.default_val;
    std::string upper = model_;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (var.var_name == "SN") return upper + "SIM000001";
    if (var.var_name == "PN") return "KR-" + upper + "-SIM";
    return var.default_val;
}

void TableResponder::ResetValues() {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.clear();
    for (const VarInfo* var : table_->all_vars())
        values_[var] = EncodeValue(*var, InitialText(*var));
}

std::vector<uint8_t> TableResponder::ValueOf(const std::string& var_id) const {
    const VarInfo* var = table_->FindById(var_id);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = values_.find(var);
    return it == values_.end() ? std::vector<uint8_t>() : it->second;
}

const TableResponder::Command* TableResponder::Match(const SimRequest& request) const {
    const std::vector<uint8_t>& payload = request.payload;
    const Command* best = nullptr;
    for (const Command& command : commands_) {
        if (command.code != request.cmd) continue;
        const bool starts_with =
            payload.size() >= command.prefix.size() &&
            std::equal(command.prefix.begin(), command.prefix.end(), payload.begin());
        if (!starts_with) continue;
        const size_t rest = payload.size() - command.prefix.size();
        if (!command.is_get && rest == command.length)
            return &command;  // a write of the full layout
        // A read: the exact request, or (for logs with selectors) the longest matching prefix.
        if (command.is_get && rest == 0) return &command;
        if (command.is_get && (best == nullptr || command.prefix.size() > best->prefix.size())) {
            best = &command;
        }
    }
    return best;
}

SimReply TableResponder::Answer(const SimRequest& request) {
    const Command* command = Match(request);
    if (command == nullptr) {
        SimReply refused;
        refused.ret_code = kRetTableMismatch;
        return refused;
    }
    return command->is_get ? AnswerGet(*command, request) : AnswerSet(*command, request);
}

SimReply TableResponder::AnswerGet(const Command& command, const SimRequest& request) {
    SimReply reply;
    const size_t prefix =
        command.extended ? std::min(kTunnelPrefixBytes, request.payload.size()) : 0;
    const VarInfo& lead = *command.vars.front();
    if (command.vars.size() == 1 && lead.offset == 0) {
        // A value as long as the reply: a log download or the shared secret key.
        reply.payload.assign(request.payload.begin(), request.payload.begin() + prefix);
        std::vector<uint8_t> body;
        if (lead.var_type == "raw") {
            body = LogText(lead, request);
        } else {
            std::lock_guard<std::mutex> lock(mutex_);
            body = values_[&lead];
        }
        reply.payload.insert(reply.payload.end(), body.begin(), body.end());
        return reply;
    }
    reply.payload.assign(std::max(command.length, prefix), 0);
    std::copy_n(request.payload.begin(), prefix, reply.payload.begin());
    std::lock_guard<std::mutex> lock(mutex_);
    for (const VarInfo* var : command.vars) {
        const std::vector<uint8_t>& bytes = values_[var];
        std::copy(bytes.begin(), bytes.end(), reply.payload.begin() + var->get_start_pos);
    }
    return reply;
}

SimReply TableResponder::AnswerSet(const Command& command, const SimRequest& request) {
    SimReply reply;
    bool restart = true;
    bool reset = false;
    for (const VarInfo* var : command.vars) {
        const std::string name = Lower(var->var_name);
        restart = restart && (name == "restart" || name == "reset");
        reset = reset || name == "reset";
    }
    if (restart) {
        if (reset) ResetValues();
        reply.close_after_reply = true;  // the sensor reboots
        return reply;
    }
    const size_t start = command.prefix.size();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const VarInfo* var : command.vars) {
        const auto from = request.payload.begin() + static_cast<long>(start) + var->set_start_pos;
        values_[var].assign(from, from + var->offset);
    }
    return reply;
}

std::vector<uint8_t> TableResponder::LogText(const VarInfo& var, const SimRequest& request) const {
    std::string text = model_ + " " + var.var_name + "\n";
    if (request.payload.size() >= 2) {
        char selector[64];
        std::snprintf(selector, sizeof(selector), "selector %02x %02x\n",
                      request.payload[request.payload.size() - 2], request.payload.back());
        text += selector;
    }
    text +=
        "[0000012.480] boot: self test passed\n"
        "[0000013.002] motor: spin-up to 600 rpm\n"
        "[0000020.517] net: link up, 1000 Mbit/s full duplex\n";
    return std::vector<uint8_t>(text.begin(), text.end());
}

void TableResponder::Install(SimDevice& device) {
    std::set<uint8_t> codes;
    for (const Command& command : commands_)
        codes.insert(command.code);
    std::shared_ptr<TableResponder> self = shared_from_this();
    for (uint8_t code : codes) {
        if (code != kCmdTunnel) {
            device.SetHandler(code,
                              [self](const SimRequest& request) { return self->Answer(request); });
            continue;
        }
        // The tunnel also carries serial frames and line-speed operations the table does not name.
        CommandHandler fallback = device.HandlerFor(kCmdTunnel);
        device.SetHandler(code, [self, fallback](const SimRequest& request) {
            if (self->Match(request) != nullptr || !fallback) return self->Answer(request);
            return fallback(request);
        });
    }
}

}  // namespace sim
}  // namespace lidar
}  // namespace krell
