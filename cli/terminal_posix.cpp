#include "terminal.h"

#include <csignal>
#include <sys/ioctl.h>
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
    // Every Ctrl-C only asks the command to stop: a second one just after the last record must
    // not end the program before its outcome and its history line are written.
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    return interrupted;
}

void interruptsDone() {}

bool errorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

int errorColumns() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void ignoreClosedOutput() {
    std::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> commandArguments(int argc, char* argv[]) {
    return {argv + (argc > 0 ? 1 : 0), argv + argc}; // as the system gave them: bytes
}

} // namespace quorvane
