#include "DeviceBench/termination_signals.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};
// A signal handler may only write to a descriptor; the event loop reads the other end.
int g_pipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    const ssize_t ignored = ::write(g_pipe[1], &byte, 1);
    (void)ignored;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        qWarning() << "[DeviceBench] termination signals keep their default action: socketpair"
                   << qt_error_string(errno);
        return;
    }
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::OnSignalled);
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal_number : kSignals) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ == nullptr) {
        return;
    }
    for (int signal_number : kSignals) {
        ::signal(signal_number, SIG_DFL);
    }
    delete notifier_;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::OnSignalled() {
    char byte = 0;
    const ssize_t ignored = ::read(g_pipe[0], &byte, 1);
    (void)ignored;
    QCoreApplication::quit();
}
