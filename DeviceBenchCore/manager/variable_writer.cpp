#include "DeviceBenchCore/manager/variable_writer.h"

#include <QDebug>

#include <algorithm>
#include <memory>
#include <set>
#include <stdexcept>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/parsers/make_str_parser.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/Frame/hex_text.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace {

constexpr const char* kNetworkCommand = "0x21";  // applies the network settings: sent last
constexpr const char* kFovCommand = "0x22";
using krell::lidar::kFovChannels;
constexpr int32_t kHeaderNotRead = -2;

}  // namespace

std::vector<uint8_t> VariableWriter::EncodeText(const VarInfo& var) const {
    std::unique_ptr<StrParser> parser = MakeStrParser(var.var_type);
    if (!parser) {
        qDebug() << "DeviceBenchManager::Run(): This var_type\"" << var.var_type.c_str()
                 << "\"is not supported currently.";
        qDebug() << "strParser == nullptr, var_name:" << var.var_name.c_str();
        throw OperationError("Error with var type");
    }
    const std::string value = session_.table.CurrentValue(var);
    if (value.empty()) {
        throw OperationError("Unknown error with this var: It has no current_val. var_name = " +
                             var.var_name);
    }
    try {
        return parser->Parse(value, var.set_coefficient);
    } catch (const std::logic_error& e) {  // invalid_argument and out_of_range
        throw OperationError(e.what());
    }
}

VariableWriter::VariableWriter(DeviceSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter), reader_(session, reporter) {}

bool VariableWriter::Run(int module, const RawBytesMap& exact_bytes) {
    const auto turn = session_.link.HoldExchange();
    written_.clear();
    const std::vector<VarInfo*> page_vars = session_.table.PageVars(module);
    Plan plan = Collect(page_vars);
    if (plan.commands.empty()) return false;
    size_t next = 0;
    bool handling = false;
    queried_ = false;
    try {
        for (const auto& group : plan.reads)
            reader_.ReadGroup(group.second, &plan.raw, false);
        Encode(page_vars, plan, exact_bytes, plan.raw);
        for (; next < plan.commands.size(); ++next) {
            handling = true;
            Send(plan.commands[next], plan.raw);
        }
    } catch (const OperationError& e) {
        const size_t unsent = handling ? next + 1 : 0;
        KeepOnlyUnsent(plan.commands, unsent);
        ReportUnsent(plan.commands, unsent);
        throw WriteError(e.what(), handling ? plan.commands[next] : std::string(), queried_);
    }
    return true;
}

void VariableWriter::KeepOnlyUnsent(const std::vector<std::string>& commands, size_t from) {
    const std::vector<std::string> unsent(commands.begin() + static_cast<std::ptrdiff_t>(from),
                                          commands.end());
    std::vector<const VarInfo*> members;
    for (const std::string& command : unsent) {
        for (const VarInfo* member : session_.table.SetGroup(command))
            members.push_back(member);
    }
    session_.edits.Requeue(unsent, members);
}

VariableWriter::Plan VariableWriter::Collect(const std::vector<VarInfo*>& page_vars) {
    Plan plan;
    bool network_pending = false;
    std::set<const VarInfo*> queued;
    for (const std::string& command : session_.edits.TakePending(page_vars)) {
        for (VarInfo* member : session_.table.SetGroup(command)) {
            if (member->get_cmd.empty()) {
                plan.raw[member] = std::vector<uint8_t>(static_cast<size_t>(member->offset));
            } else if (queued.insert(member).second) {
                plan.reads[member->get_cmd + member->get_cmd_payload].push_back(member);
            }
        }
        if (command == kNetworkCommand) {
            network_pending = true;
        } else {
            plan.commands.push_back(command);
        }
    }
    if (network_pending) plan.commands.push_back(kNetworkCommand);
    return plan;
}

void VariableWriter::Encode(const std::vector<VarInfo*>& page_vars, const Plan& plan,
                            const RawBytesMap& exact_bytes, RawBytesMap& raw) {
    for (const VarInfo* var : page_vars) {
        if (var->set_cmd.empty()) continue;
        if (std::find(plan.commands.begin(), plan.commands.end(), var->set_cmd) ==
            plan.commands.end()) {
            continue;
        }
        if (var->get_cmd.empty() && var->var_type != "raw") {
            throw OperationError(
                "There are undefined cases in the csv config file where there is a line with "
                "'set' and no 'get', but the var_type is not 'raw'.");
        }
        // Raw variables and variables the user did not edit keep the device's bytes: a value
        // shown with two decimals must not be written back rounded.
        if (var->var_type == "raw" || !session_.edits.IsChanged(var)) continue;
        const auto exact = exact_bytes.find(var);
        std::vector<uint8_t> bytes = exact != exact_bytes.end() ? exact->second : EncodeText(*var);
        if (var->set_cmd != kFovCommand && bytes.size() != static_cast<size_t>(var->offset)) {
            throw OperationError(var->var_name + " encodes to " + std::to_string(bytes.size()) +
                                 " bytes but the table gives it " + std::to_string(var->offset));
        }
        raw[var] = std::move(bytes);
    }
}

std::vector<uint8_t> VariableWriter::Payload(const std::string& command, const RawBytesMap& raw) {
    CmxCommand wire;
    if (!CmxCommand::FromText(command, wire)) throw OperationError("unknown command " + command);
    std::vector<uint8_t> payload = wire.prefix;
    std::vector<VarInfo*> members = session_.table.SetGroup(command);
    std::sort(members.begin(), members.end(), [](const VarInfo* a, const VarInfo* b) {
        return a->set_start_pos < b->set_start_pos;
    });
    for (const VarInfo* member : members) {
        const auto found = raw.find(member);
        // A variable whose device bytes are unknown would shift every byte after it.
        if (found == raw.end() || found->second.size() != static_cast<size_t>(member->offset)) {
            throw OperationError("the current value of " + member->var_name +
                                 " could not be read from the lidar, so [" + command +
                                 "] was not sent");
        }
        payload.insert(payload.end(), found->second.begin(), found->second.end());
    }
    return payload;
}

std::string VariableWriter::ChangedNames(const std::string& command) const {
    return session_.edits.ChangedNames(session_.table.SetGroup(command));
}

void VariableWriter::Send(const std::string& command, const RawBytesMap& raw) {
    const std::shared_ptr<krell::lidar::CmxClient> client = session_.link.Cmx();
    if (!client) throw OperationError("the connection to the lidar was closed");
    const std::string names = ChangedNames(command);
    if (command == kFovCommand) {
        const std::vector<VarInfo*> group = session_.table.SetGroup(command);
        if (group.empty()) throw OperationError("no variable carries " + command);
        const std::vector<uint8_t> mode = EncodeText(*group.front());
        const int32_t ret =
            mode.empty() ? -1 : client->SetFov(session_.table.Fov(), kFovChannels, mode.front());
        queried_ = queried_ || !mode.empty();
        if (ret != 0) {
            reporter_.Log("SET [0x22] FAILED", "WARNING");
            throw OperationError("set channel fov failed");
        }
        written_.push_back(command);
        reporter_.Log("Send CMX command [0x22] to set " + names + " success.", "INFO");
        reporter_.Success("CMX command [0x22] to set " + names + " success.");
        return;
    }
    CmxCommand wire;
    CmxCommand::FromText(command, wire);
    const std::vector<uint8_t> payload = Payload(command, raw);
    qDebug() << "DeviceBenchManager::Run(): QueryCommand send cmd:   " << command.c_str();
    qDebug() << "DeviceBenchManager::Run(): QueryCommand send payload:"
             << krell::lidar::ToHexText(payload).c_str() << ", length =" << payload.size();
    std::vector<uint8_t> reply;
    const int32_t ret = client->QueryCommand(payload, reply, wire.code);
    queried_ = true;
    if (ret == 0) {
        qDebug() << "DeviceBenchManager::Run(): QueryCommand SUCCESS, get result =0";
        written_.push_back(command);
        reporter_.Log("Send CMX command [" + command + "] to set " + names + " success.", "INFO");
        if (command != kNetworkCommand) {
            reporter_.Success("CMX command [" + command + "] to set " + names + " success.");
        }
        return;
    }
    const int32_t last = client->GetLastRetCode();
    if (command == kNetworkCommand && last == kHeaderNotRead) {
        // The lidar applies new network settings at once and may drop the reply.
        written_.push_back(command);
        reporter_.Log("Send CMX command [" + command + "] to set " + names +
                          " sent; the lidar applied it without a reply.",
                      "INFO");
        return;
    }
    qDebug() << "DeviceBenchManager::Run(): QueryCommand FAILED, get result =" << last;
    reporter_.Log("SET [" + command + "] FAILED", "WARNING");
    throw OperationError(command + " SET " + names + " ret_code: " + std::to_string(last));
}

void VariableWriter::ReportUnsent(const std::vector<std::string>& commands, size_t from) {
    for (size_t i = from; i < commands.size(); ++i) {
        reporter_.Log("CMX command [" + commands[i] + "] to set " + ChangedNames(commands[i]) +
                          " was not sent; it stays pending for the next save.",
                      "WARNING");
    }
}
