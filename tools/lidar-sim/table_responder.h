#pragma once
// TableResponder: the virtual sensor speaks a model's variable table.
//
// Every get command of the table is answered with a payload laid out as the table says (each
// variable's bytes at its get position, tunnelled commands behind their 4-byte prefix); every set
// command stores the bytes it carries, so a later get returns them. Values start from the table:
// SN and PN as fixed identity texts, the rest from DefaultValue encoded as the value parsers do
// (with the read coefficient, so that reading shows DefaultValue again). Rows named Restart and
// Reset drop the connection after their reply (Reset also restores every default); log rows
// answer with a short generated log. Field-of-view (0x22/0x23) and upgrade rows are left to the
// built-in handlers. Thread-safe: handlers run on the server's connection threads.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/lidar-sim/sim_device.h"

class ConfigParser;
struct VarInfo;

namespace krell {
namespace lidar {
namespace sim {

//! Return code for a request the table does not describe (unknown payload, wrong length).
constexpr uint8_t kRetTableMismatch = 0x01;

class TableResponder : public std::enable_shared_from_this<TableResponder> {
public:
    //! Loads the table at `path` for model `model`. Null, with `error` set, when it does not load.
    static std::shared_ptr<TableResponder> Load(const std::string& path, const std::string& model,
                                                std::string& error);
    ~TableResponder();

    //! Path of the table of `model`: "./Config/varID/<model>.csv" below the working directory,
    //! else the one in the source tree this program was built from; empty when neither exists.
    static std::string FindTable(const std::string& model);

    //! Registers a handler on `device` for each command code of the table. Requests for the 0xFF
    //! tunnel whose prefix the table does not name go on to the 0xFF handler registered before.
    void Install(SimDevice& device);
    //! Answers one request as the table says; ret code kRetTableMismatch when it names nothing.
    SimReply Answer(const SimRequest& request);
    //! The current bytes of variable `var_id` (empty for an unknown id). For tests and tools.
    std::vector<uint8_t> ValueOf(const std::string& var_id) const;
    //! The table behind the answers; owned by the responder.
    const ConfigParser& Table() const { return *table_; }

    //! Bytes of command text `text` as sent: the command code, and for a text longer than four
    //! characters (code 0xFF) the spelled prefix bytes. False for text that is not a command.
    static bool CommandBytes(const std::string& text, uint8_t& code, std::vector<uint8_t>& prefix);
    //! The bytes a device holding `text` would report for `var` (see the file comment).
    static std::vector<uint8_t> EncodeValue(const VarInfo& var, const std::string& text);

private:
    // One command of the table as it appears on the wire.
    struct Command {
        uint8_t code = 0;
        std::vector<uint8_t> prefix;  // spelled bytes (0xFF) followed by the get payload bytes
        bool extended = false;
        bool is_get = false;
        std::vector<VarInfo*> vars;  // in layout order
        size_t length = 0;           // payload bytes the layout describes
    };

    TableResponder() = default;
    bool Build(std::string& error);
    void ResetValues();
    const Command* Match(const SimRequest& request) const;
    SimReply AnswerGet(const Command& command, const SimRequest& request);
    SimReply AnswerSet(const Command& command, const SimRequest& request);
    std::vector<uint8_t> LogText(const VarInfo& var, const SimRequest& request) const;
    std::string InitialText(const VarInfo& var) const;

    std::string model_;
    std::unique_ptr<ConfigParser> table_;
    std::vector<Command> commands_;
    mutable std::mutex mutex_;  // guards values_
    std::unordered_map<const VarInfo*, std::vector<uint8_t>> values_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
