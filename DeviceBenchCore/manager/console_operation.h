#pragma once
// ConsoleOperation: the raw command console. Parses the command and payload texts as typed on
// the page, sends them over the current link, turns the reply into the header and payload texts
// the page shows and keeps the newest-first send history. The manager owns one; every call runs
// on the UI thread, so the state needs no lock.

#include <QString>
#include <QVariantList>

#include <cstdint>
#include <string>
#include <vector>

#include "DeviceBenchCore/manager/command_text.h"
#include "DeviceBenchCore/manager/reporter.h"

class DeviceSession;

//! What one Send did: nothing (link not ready), failed (texts changed, an error shown) or sent.
enum class ConsoleOutcome { kRefused, kFailed, kSent };

class ConsoleOperation {
public:
    //! Most entries the history keeps; the oldest goes first.
    static constexpr int kMaxHistoryEntries = 10;
    //! Reply bytes shown on the page; the rest only reaches the byte flow.
    static constexpr size_t kShownReplyBytes = 1024;
    //! Reply wait of the Minka serial console.
    static constexpr int32_t kSerialReplyTimeoutMs = 1000;

    ConsoleOperation(DeviceSession& session, Reporter& reporter);

    //! Bytes as upper-case hexadecimal pairs joined by single blanks ("" for none).
    static QString HexText(const std::vector<uint8_t>& bytes, size_t from, size_t to);

    //! Sends one console command over the session's link and updates the texts and history.
    //! Unless kRefused the page's texts or history changed (the manager then emits
    //! sendCommandHistoryChanged); failures are reported through the Reporter.
    ConsoleOutcome Send(const QString& cmd_qs, const QString& payload_qs);
    //! The code of the last command that went through (restart and reset end the link).
    uint32_t LastSentCode() const { return last_code_; }

    const QString& ReturnHeader() const { return header_; }
    const QString& ReturnPayload() const { return payload_; }
    const QVariantList& History() const { return history_; }

private:
    bool Ready(int kind);
    //! The reply of one exchange, or false when it failed or came back too short.
    bool Exchange(int kind, const ConsoleRequest& request, std::vector<uint8_t>& reply);
    void Record(const ConsoleRequest& request, const std::string& time);
    void ParseFailed(const std::string& text_at_fault, const char* kind_name);

    DeviceSession& session_;
    Reporter& reporter_;
    QString header_;
    QString payload_;
    QVariantList history_;
    uint32_t last_code_ = 0;
};
