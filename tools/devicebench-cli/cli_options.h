#pragma once
// CliOptions: the command line of devicebench-cli, parsed once. Options may stand anywhere after
// the program name; the first word that is not an option is the verb and the rest are its
// arguments. Connection options left out fall back to the settings file the window writes
// ("RecvSettings.ini"), then to the window's defaults.

#include <optional>
#include <string>
#include <vector>

struct CliOptions {
    std::string verb;
    std::vector<std::string> args;

    // Connection.
    std::optional<std::string> model;
    std::optional<std::string> host;
    std::optional<std::string> port;
    std::optional<std::string> rs485;
    std::optional<std::string> uart;
    std::optional<std::string> baud;
    std::string cert_path;
    std::string key_path;
    std::string ca_path;
    std::string tables_dir;  // empty: next to the program, else ./Config/varID

    // Verb switches.
    std::string out;
    std::vector<std::string> sensors;  // HOST[:PORT] each
    int jobs = 4;
    int wait_s = 0;  // restart/reset: wait this long for the sensor to answer again
    std::optional<int> upgrade_mode;  // Minka upgrades: 0 application and FPGA, 1 PBL, 2 stream
    bool json = false;
    bool force = false;
    bool dry_run = false;
    bool with_address = false;
    bool help = false;
    bool verbose = false;

    //! Parses `args` (without the program name). Throws CliFailure(kUsage) for an unknown
    //! option, a missing option value or a number that does not convert.
    static CliOptions Parse(const std::vector<std::string>& args);
};
