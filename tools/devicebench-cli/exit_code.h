#pragma once
// Exit codes of devicebench-cli and the error that carries one up to the verb dispatcher, which
// prints its text once and exits with its code.

#include <stdexcept>
#include <string>

enum class ExitCode : int {
    kDone = 0,        // everything asked was done
    kUsage = 1,       // bad arguments, unknown variable or page, unusable file
    kConnection = 2,  // the sensor could not be reached or the link broke
    kRefused = 3,     // the sensor refused, nothing was written
    kPartial = 4,     // a write stopped part way; the report lists what was written
};

class CliFailure : public std::runtime_error {
public:
    CliFailure(ExitCode exit_code, const std::string& text)
        : std::runtime_error(text), code(exit_code) {}
    ExitCode code;
};
