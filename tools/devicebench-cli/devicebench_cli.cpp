#include "tools/devicebench-cli/devicebench_cli.h"

#include <map>

#include "tools/devicebench-cli/exit_code.h"
#include "tools/devicebench-cli/verbs.h"

namespace {

struct Verb {
    int (*run)(CliContext&);
    const char* usage;
    const char* summary;
};

const char* const kConnectionHelp =
    "Connection (defaults from RecvSettings.ini, as the window last saved them):\n"
    "  --model NAME            variable table and link kind (default Corvel)\n"
    "  --host IP --port N      CMX over TCP\n"
    "  --tls CERT KEY CA       CMX over TLS with these PEM files\n"
    "  --serial RS485 UART     the Minka serial lines\n"
    "  --baud N                point-cloud line speed of the serial models\n"
    "  --tables DIR            folder of the variable tables (default: beside the program)\n"
    "  --verbose               show the operations' log lines on standard error\n"
    "Exit codes: 0 done, 1 usage, 2 connection, 3 refused by the sensor, 4 partial write.\n";

const std::map<std::string, Verb>& Verbs() {
    static const std::map<std::string, Verb> verbs = {
        {"pages", {cli::Pages, "pages [--json]", "the pages, sections and variables of the model"}},
        {"get",
         {cli::Get, "get [NAME|PAGE]... [--json]",
          "read variables (all readable ones without arguments); PAGE is a page number or name"}},
        {"set",
         {cli::Set, "set NAME=VALUE... [--force] [--json]",
          "write values with the range and format checks of Save; out of range needs --force"}},
        {"raw",
         {cli::Raw, "raw CMD [HEXPAYLOAD...] [--json]",
          "send one command as the console does (hexadecimal command and payload bytes)"}},
        {"snapshot",
         {cli::Snapshot, "snapshot --out FILE.json [--force] [--json]",
          "every readable variable (text and bytes), the model, PN, SN and the time to a file"}},
        {"diff",
         {cli::Diff, "diff FILE.json [--json]",
          "what differs between the file and the sensor now"}},
        {"apply",
         {cli::Apply,
          "apply FILE.json [--dry-run] [--force] [--with-address] [--sensors H[:P],... "
          "[--jobs N]] [--json]",
          "show the diff, then write only what differs as Save does; the sensor's own address "
          "(the 0x21 group) is kept unless --with-address; --sensors applies to many at once"}},
        {"restart",
         {cli::Restart, "restart [--wait SECONDS]",
          "restart the sensor; --wait reconnects until it answers again"}},
        {"reset",
         {cli::Reset, "reset [--wait SECONDS]",
          "factory reset; --wait reconnects until the sensor answers again"}},
        {"log",
         {cli::Log, "log NAME --out DIR", "download the log row NAME into DIR (NAME_time.bin)"}},
        {"operation-log",
         {cli::OperationLog, "operation-log --out FILE.tar",
          "download the four operation-log parts and pack them into FILE.tar"}},
        {"upgrade",
         {cli::Upgrade, "upgrade FILE [--mode 0|1|2]",
          "firmware upgrade by the model's route (table row, Minka OTA or file stream by --mode, "
          "Rusko package); a progress bar on a terminal, progress lines otherwise"}},
        {"standby", {cli::Standby, "standby on|off", "Minka/Rusko: standby on or off"}},
        {"spin-rate", {cli::SpinRate, "spin-rate RPM", "Minka/Rusko: set the spin rate"}},
        {"return-mode", {cli::ReturnMode, "return-mode N", "Minka/Rusko: set the return mode"}},
        {"function-safety",
         {cli::FunctionSafety, "function-safety [--json]",
          "Minka/Rusko: the function-safety state and fault codes"}},
        {"baud-rate",
         {cli::BaudRate, "baud-rate [SPEED] [--json]",
          "serial CMX models: read the line speed, or set it"}},
        {"destination",
         {cli::Destination, "destination [IP PORT] [--json]",
          "serial CMX models: read the point-data destination, or set it"}},
        {"imu-range",
         {cli::ImuRange, "imu-range ANGULAR ACCELERATION", "Rusko: the IMU range indexes"}},
        {"versions",
         {cli::Versions, "versions [--json]", "Minka/Rusko: firmware versions (FPGA, MCU, PBL)"}},
        {"serial-number",
         {cli::SerialNumber, "serial-number [--json]", "Minka/Rusko: the serial number"}},
        {"calibration",
         {cli::Calibration, "calibration --out FILE",
          "Minka/Rusko: download the calibration data into FILE (raw bytes)"}},
    };
    return verbs;
}

void PrintUsage(std::ostream& out) {
    out << "usage: devicebench-cli [connection options] VERB [arguments]\n\nVerbs:\n";
    for (const auto& verb : Verbs())
        out << "  " << verb.second.usage << "\n      " << verb.second.summary << "\n";
    out << "\n" << kConnectionHelp;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool terminal) {
    try {
        const CliOptions options = CliOptions::Parse(args);
        if (options.verb.empty()) {
            PrintUsage(options.help ? out : err);
            return static_cast<int>(options.help ? ExitCode::kDone : ExitCode::kUsage);
        }
        const auto verb = Verbs().find(options.verb);
        if (verb == Verbs().end()) {
            throw CliFailure(ExitCode::kUsage,
                             "unknown verb \"" + options.verb + "\" (devicebench-cli --help)");
        }
        if (options.help) {
            out << "usage: devicebench-cli [connection options] " << verb->second.usage << "\n"
                << verb->second.summary << "\n\n"
                << kConnectionHelp;
            return static_cast<int>(ExitCode::kDone);
        }
        CliContext context{options, out, err, terminal};
        return verb->second.run(context);
    } catch (const CliFailure& e) {
        err << "devicebench-cli: " << e.what() << "\n";
        return static_cast<int>(e.code);
    }
}
