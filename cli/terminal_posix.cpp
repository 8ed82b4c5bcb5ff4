#include "terminal.h"

#include <csignal>
#include <unistd.h>

namespace quorvane {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int /*signal*/) {
    interrupted.store(true);
}

} // namespace

const std::atomic<bool>& catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND; // the second one ends the program
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    return interrupted;
}

void interruptsDone() {}

bool errorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

bool outputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void ignoreClosedOutput() {
    std::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> commandArguments(int argc, char* argv[]) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc}; // as the system gave them: bytes
}

} // namespace quorvane
