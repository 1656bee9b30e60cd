// DeviceBenchManager: the raw command console's invokable. The parsing, the exchange and the
// history live in ConsoleOperation; here its result becomes the page's texts and signals.
#include "DeviceBenchCore/manager/device_bench_manager.h"

#include "DeviceBenchCore/manager/device_session.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace {

using krell::lidar::kCmdRestart;
using krell::lidar::kCmdReset;

}  // namespace

void DeviceBenchManager::SendCommand(const QString& cmd_qs, const QString& payload_qs) {
    const ConsoleOutcome outcome = console_->Send(cmd_qs, payload_qs);
    if (outcome == ConsoleOutcome::kRefused) return;
    send_history_ = console_->History();
    return_header_ = console_->ReturnHeader();
    return_payload_ = console_->ReturnPayload();
    emit sendCommandHistoryChanged();
    if (outcome != ConsoleOutcome::kSent || session_->link.kind != Link::kKindTcp) return;
    // The sensor drops the link when it reboots; a stale client would only time out.
    if (console_->LastSentCode() == kCmdRestart) {
        Stop();
        setSuccessMsg("Lidar restart.");
    } else if (console_->LastSentCode() == kCmdReset) {
        Stop();
        setSuccessMsg("Lidar reset.");
    }
}
