// quorvane-cli: the window's discovery, checks, transfer and mends from a terminal, through a
// console implementation of the window seam. main() wires it to the system; tests to the
// virtual Tarvex.
#pragma once

#include "ApiDeclarations.h"
#include "sleep_inhibitor.h"
#include "unit_locks.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace quorvane {

// The exit codes, as --help, the README and the manual page list them.
enum ExitCode : int {
    ExitDone = 0,
    ExitUsage = 1,        // bad usage
    ExitNoUnit = 2,       // no Tarvex, or more than one without a choice
    ExitImage = 3,        // the image is refused
    ExitDevice = 4,       // the device failed during the command
    ExitNotBack = 5,      // the device did not come back as it should
    ExitInterrupted = 130 // Ctrl-C, or the console closed
};

struct CliEnvironment {
    HidPlatform& platform;
    std::ostream& out;     // results
    std::ostream& err;     // messages, progress, the -v trace
    bool terminal = false; // standard error is a terminal
    SleepInhibitor* inhibitor = nullptr;
    std::filesystem::path historyPath;  // empty: no history
    std::filesystem::path defaultImage; // quorvane.bin beside the executable
    const std::atomic<bool>* interrupted = nullptr;
    std::function<int()> columns;     // the width of standard error's terminal now (0: unknown)
    const UnitLocks* locks = nullptr; // one session per unit across programs; nothing: none
};

// Runs the command line `args` (without the program's name); returns the exit code.
int runCli(const std::vector<std::string>& args, CliEnvironment& env);

} // namespace quorvane
