#pragma once
// VariableWriter: writes the pending edits of one page. For every pending set command it reads
// the device bytes of every variable the command carries, puts the encoded values of the edited
// variables in their places and sends the whole payload, the command "0x21" last. The whole save
// holds the link's exchange turn, so no other exchange falls between its reads and writes.
//
// Thread: the UI thread. Reports one log line per set command: written, failed or not sent.

#include <string>
#include <vector>

#include "DeviceBenchCore/manager/reporter.h"
#include "DeviceBenchCore/manager/variable_reader.h"

class DeviceSession;

//! A save that stopped: the command being handled (empty when none was taken yet), whether any
//! command of this save had been sent, and the reason.
class WriteError : public OperationError {
public:
    WriteError(const std::string& reason, std::string command, bool any_sent)
        : OperationError(reason), command(std::move(command)), any_sent(any_sent) {}
    std::string command;
    bool any_sent;
};

class VariableWriter {
public:
    //! Both are borrowed and must outlive the writer.
    VariableWriter(DeviceSession& session, Reporter& reporter);

    //! Sends the pending set commands of page `module`. True when every command went through,
    //! false (nothing sent, nothing changed) when the page has none pending. Throws WriteError at
    //! the first failing command, after logging which commands were written and which were not:
    //! the edits of the commands tried are dropped, the commands never sent stay pending with
    //! their edits. An edited variable found in `exact_bytes` is sent with those bytes instead
    //! of its encoded text (a parameter snapshot carries the device's own bytes, which a text
    //! shown with two decimals cannot always reproduce).
    bool Run(int module, const RawBytesMap& exact_bytes = RawBytesMap());
    //! The set commands the last Run sent and the sensor accepted, in send order.
    const std::vector<std::string>& Written() const { return written_; }

private:
    struct Plan {
        std::vector<std::string> commands;  // send order, "0x21" last
        GetGroups reads;
        RawBytesMap raw;
    };

    Plan Collect(const std::vector<VarInfo*>& page_vars);
    void Encode(const std::vector<VarInfo*>& page_vars, const Plan& plan,
                const RawBytesMap& exact_bytes, RawBytesMap& raw);
    void Send(const std::string& command, const RawBytesMap& raw);
    std::vector<uint8_t> Payload(const std::string& command, const RawBytesMap& raw);
    std::string ChangedNames(const std::string& command) const;
    std::vector<uint8_t> EncodeText(const VarInfo& var) const;
    void ReportUnsent(const std::vector<std::string>& commands, size_t from);
    //! Marks commands[from..] pending again and forgets every other edit.
    void KeepOnlyUnsent(const std::vector<std::string>& commands, size_t from);

    DeviceSession& session_;
    Reporter& reporter_;
    VariableReader reader_;
    bool queried_ = false;  // a query of the running save has returned
    std::vector<std::string> written_;  // commands of the last save that went through
};
