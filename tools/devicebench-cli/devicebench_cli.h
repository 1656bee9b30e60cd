#pragma once
// devicebench-cli: everything DeviceBench does, headless and scriptable, on the same
// DeviceBenchCore operations as the window. RunCli is the whole program short of the process
// set-up in main.cpp, so tests drive it in-process.

#include <ostream>
#include <string>
#include <vector>

//! Runs the command line `args` (without the program name), writing results to `out` and
//! messages to `err`; `terminal` tells whether `out` is a terminal (progress bars). Returns the
//! exit code: 0 done, 1 usage, 2 connection, 3 refused by the sensor, 4 partial write. Needs a
//! QCoreApplication.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool terminal = false);
