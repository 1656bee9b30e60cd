// devicebench-cli: the process around RunCli. Standard output carries only the verb's results
// (so --json output can be piped); the operations' own console chatter goes to standard error in
// verbose mode and nowhere otherwise.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <ext/stdio_filebuf.h>
#include <iostream>
#include <string>
#include <vector>

#include "tools/devicebench-cli/devicebench_cli.h"

namespace {

bool g_verbose = false;

void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (g_verbose || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

bool Verbose(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--verbose" || arg == "-v") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    g_verbose = Verbose(args);
    // The link's log sink keeps its file; its console copy is only wanted in verbose mode.
    if (!g_verbose) setenv("SCRIBE_CONSOLE", "0", 0);
    qInstallMessageHandler(QtMessages);
    // The results keep the real standard output; descriptor 1 is pointed elsewhere, since the
    // device-link code prints its own progress lines there.
    std::fflush(stdout);
    const int results_fd = dup(STDOUT_FILENO);
    const bool terminal = isatty(results_fd) == 1;
    const int sink = g_verbose ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY);
    if (results_fd < 0 || sink < 0 || dup2(sink, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "devicebench-cli: cannot set up the output streams\n");
        return 1;
    }
    close(sink);
    __gnu_cxx::stdio_filebuf<char> results_buffer(results_fd, std::ios::out);
    std::ostream results(&results_buffer);
    QCoreApplication app(argc, argv);
    const int code = RunCli(args, results, std::cerr, terminal);
    results.flush();
    return code;
}
