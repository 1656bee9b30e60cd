#pragma once
// VariableReader: reads variables from the device. Variables that share a get command (and get
// payload) are read with one exchange; each one's bytes are cut out of the reply and decoded
// into its `current_val`. Works on the session's CMX client (TCP models).
//
// Threads: the UI thread and the refresh thread. Callers of ReadGroup and ReadOne hold the
// link's exchange turn; ReadPage and ReadTimerVars hold it per group themselves.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DeviceBenchCore/manager/active_table.h"
#include "DeviceBenchCore/manager/reporter.h"

class DeviceSession;
struct VarInfo;
namespace krell {
namespace lidar {
class CmxClient;
}
}  // namespace krell

//! Device bytes of the variables of one save, by variable.
using RawBytesMap = std::map<const VarInfo*, std::vector<uint8_t>>;

class VariableReader {
public:
    //! Both are borrowed and must outlive the reader.
    VariableReader(DeviceSession& session, Reporter& reporter);

    //! One exchange for `vars` (same get command and payload). Stores each variable's bytes in
    //! `raw_map` when given and decodes them when `decode`. Throws OperationError for an empty
    //! list or mixed commands; a failed exchange only leaves a debug line and changes nothing.
    //! True when the exchange succeeded and every variable's bytes were found in the reply.
    bool ReadGroup(const std::vector<VarInfo*>& vars, RawBytesMap* raw_map, bool decode);
    //! ReadGroup for one variable, decoded, with its bytes in `bytes`; its result. Throws as
    //! ReadGroup.
    bool ReadOne(VarInfo* var, std::vector<uint8_t>& bytes);
    //! Reads every readable variable of page `module`; a failing group is reported and the
    //! others go on. Emits kValuesRead. Nothing for serial models or when not ready.
    void ReadPage(int module);
    //! Reads the periodically updated variables of page `module`; emits kTimerValuesRead.
    void ReadTimerVars(int module);

private:
    bool CutAndDecode(VarInfo& var, uint8_t code, const std::vector<uint8_t>& reply,
                      std::vector<uint8_t>& bytes, bool decode, krell::lidar::CmxClient& client);
    bool ReadFov(VarInfo& first, krell::lidar::CmxClient& client);
    void ReadGroups(const GetGroups& groups, const char* caller);

    DeviceSession& session_;
    Reporter& reporter_;
};
