#include "DeviceBenchCore/manager/variable_reader.h"

#include <QDebug>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/manager/device_session.h"
#include "DeviceBenchCore/manager/var_decoder.h"
#include "DeviceBenchCore/table/config_parser.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace {

using krell::lidar::kCmdGetFov;
constexpr const char* kSharedSecretKey = "Shared Secret Key";

}  // namespace

VariableReader::VariableReader(DeviceSession& session, Reporter& reporter)
    : session_(session), reporter_(reporter) {}

bool VariableReader::ReadGroup(const std::vector<VarInfo*>& vars, RawBytesMap* raw_map,
                               bool decode) {
    if (vars.empty()) {
        throw OperationError(
            "DeviceBenchManager::GetInfoFromLidarWithSameCmd(): ERROR with the input v_p_vars -- "
            "size == 0");
    }
    const VarInfo& first = *vars.front();
    for (const VarInfo* var : vars) {
        if (var->get_cmd.empty() || var->get_cmd != first.get_cmd ||
            var->get_cmd_payload != first.get_cmd_payload) {
            throw OperationError(
                "DeviceBenchManager::GetInfoFromLidarWithSameCmd(): ERROR with the input v_p_vars "
                "-- They must use the same get cmd.");
        }
    }
    const std::shared_ptr<krell::lidar::CmxClient> client = session_.link.Cmx();
    CmxCommand command;
    if (!client || !CmxCommand::FromText(first.get_cmd, command)) return false;
    if (command.extended) {
        int32_t start = 0;
        int32_t length = 0;
        if (!session_.table.VarPosOffset(first, 0, start, length)) return false;
    }
    if (command.code == kCmdGetFov) return decode && ReadFov(*vars.front(), *client);
    std::vector<uint8_t> payload = command.prefix;
    payload.insert(payload.end(), first.get_payload_bytes.begin(), first.get_payload_bytes.end());
    std::vector<uint8_t> reply;
    const int32_t ret = client->QueryCommand(payload, reply, command.code);
    if (ret != 0) {
        qDebug() << "DeviceBenchManager::GetInfoFromLidarWithSameCmd(): try get"
                 << first.var_name.c_str() << "FAILED, cmd sent =" << command.CodeText().c_str()
                 << "-- QueryCommand()'s ret =" << client->GetLastRetCode();
        return false;
    }
    if (reply.empty()) {
        qDebug() << "DeviceBenchManager::GetInfoFromLidarWithSameCmd(): try get"
                 << first.var_name.c_str()
                 << ", but get no return msg from lidar. cmd sent =" << command.CodeText().c_str();
        return false;
    }
    bool all_cut = true;
    for (VarInfo* var : vars) {
        std::vector<uint8_t> bytes;
        const bool cut = CutAndDecode(*var, command.code, reply, bytes, decode, *client);
        if (cut && raw_map) (*raw_map)[var] = bytes;
        all_cut = all_cut && cut;
    }
    return all_cut;
}

bool VariableReader::ReadOne(VarInfo* var, std::vector<uint8_t>& bytes) {
    RawBytesMap raw;
    const bool read = ReadGroup({var}, &raw, true);
    const auto found = raw.find(var);
    if (found != raw.end()) bytes = found->second;
    return read;
}

bool VariableReader::CutAndDecode(VarInfo& var, uint8_t code, const std::vector<uint8_t>& reply,
                                  std::vector<uint8_t>& bytes, bool decode,
                                  krell::lidar::CmxClient& client) {
    if (!session_.table.HasTable()) return false;
    if (reply.empty()) {
        throw OperationError(
            "DeviceBenchManager::updateSingleVarFromOutput(): Error with the input 'output'");
    }
    // The shared secret's length is the reply's, given per request below.
    if (var.offset == 0 && var.var_name != kSharedSecretKey) {
        throw OperationError(
            "DeviceBenchManager::updateSingleVarFromOutput(): Error with the input var_info");
    }
    int32_t start = 0;
    int32_t length = 0;
    if (!session_.table.VarPosOffset(var, static_cast<int32_t>(reply.size()), start, length)) {
        reporter_.Log("get <start_pos, offset> failed!", "ERROR");
        return false;
    }
    if (!client.CmxStreamDecode(code, 0, reply, start, length, bytes)) {
        reporter_.Log("get var pos offset failed!", "ERROR");
        return false;
    }
    if (!decode) return true;
    std::string text;
    const VarDecoder::Result result = VarDecoder::Decode(var, bytes, text);
    if (result == VarDecoder::Result::kDecoded) session_.table.SetCurrentValue(var, text);
    if (result == VarDecoder::Result::kClear) session_.table.SetCurrentValue(var, std::string());
    return true;
}

bool VariableReader::ReadFov(VarInfo& first, krell::lidar::CmxClient& client) {
    krell::lidar::FovTable table{};
    uint8_t channels = 0;
    uint8_t mode = 0;
    const int32_t ret = client.GetFov(table, channels, mode);
    if (ret != 0) {
        qDebug() << "DeviceBenchManager::GetInfoFromLidarWithSameCmd(): try get"
                 << first.var_name.c_str()
                 << "FAILED, cmd sent = 0x23 -- QueryCommand()'s ret =" << client.GetLastRetCode();
        return false;
    }
    session_.table.SetFov(table);
    session_.table.SetCurrentValue(first, std::to_string(mode));
    reporter_.Notify(ManagerEvent::kFovChanged);
    return true;
}

void VariableReader::ReadGroups(const GetGroups& groups, const char* caller) {
    for (const auto& entry : groups) {
        const auto turn = session_.link.HoldExchange();
        // A disconnect, an upgrade or a download that began between two exchanges ends the pass;
        // the upgrade waits for the turn and then owns the line.
        if (!session_.ReadyForExchange()) return;
        try {
            ReadGroup(entry.second, nullptr, true);
        } catch (const OperationError& e) {
            qDebug() << caller << "ERROR" << e.what()
                     << ". get_cmd and payload =" << entry.first.c_str();
        }
    }
}

void VariableReader::ReadPage(int module) {
    if (session_.link.kind.load() != Link::kKindTcp || !session_.ReadyForExchange()) return;
    ReadGroups(session_.table.PageGroups(module, false),
               "DeviceBenchManager::GetLidarModuleInfo():");
    reporter_.Notify(ManagerEvent::kValuesRead);
}

void VariableReader::ReadTimerVars(int module) {
    ReadGroups(session_.table.PageGroups(module, true), "DeviceBenchManager::updatePagesTimer():");
    reporter_.Notify(ManagerEvent::kTimerValuesRead);
}
