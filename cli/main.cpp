// quorvane-cli: the Tarvex firmware update from a terminal, on the machine's HID devices.
#include "cli.h"
#include "executable_directory.h"
#include "firmware_image.h"
#include "history_file.h"
#include "system_platform.h"
#include "terminal.h"

#include <iostream>

int main(int argc, char* argv[]) {
    using namespace quorvane;
    prepareConsole();
    ignoreClosedOutput();
    const std::atomic<bool>& interrupted = catchInterrupts();
    const auto platform = makeSystemPlatform();
    const auto inhibitor = makeSystemInhibitor();
    const auto directory = executableDirectory();
    const UnitLocks locks(UnitLocks::systemDirectory());
    CliEnvironment env{*platform,
                       std::cout,
                       std::cerr,
                       errorIsTerminal(),
                       inhibitor.get(),
                       defaultHistoryPath(),
                       directory ? firmwareImagePath(*directory) : std::filesystem::path(),
                       &interrupted,
                       errorColumns,
                       &locks};
    const int code = runCli(commandArguments(argc, argv), env);
    std::cout.flush();
    interruptsDone();
    return code;
}
