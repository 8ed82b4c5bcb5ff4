#include "terminal.h"

#include "windows_text.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <io.h>

namespace quorvane {

namespace {

std::atomic<bool> interrupted{false};
std::atomic<bool> done{false};

BOOL WINAPI onConsoleEvent(DWORD event) {
    interrupted.store(true); // every Ctrl-C only asks the command to stop
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the program when this returns (or after 5 s): the command stops first.
        for (int waited = 0; !done.load() && waited < 4500; waited += 50)
            ::Sleep(50);
    }
    return TRUE;
}

} // namespace

const std::atomic<bool>& catchInterrupts() {
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    return interrupted;
}

void interruptsDone() {
    done.store(true);
}

bool errorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

int errorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) == 0)
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void ignoreClosedOutput() {} // Windows has no SIGPIPE: a write to a closed pipe just fails

std::vector<std::string> argumentsOfCommandLine(const wchar_t* commandLine) {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(commandLine, &count);
    // A name Windows allows but UTF-8 cannot carry (an unpaired surrogate) keeps the rest.
    for (int i = 1; words != nullptr && i < count; ++i)
        args.push_back(utf8Text(std::wstring_view(words[i])));
    ::LocalFree(words);
    return args;
}

std::vector<std::string> commandArguments(int /*argc*/, char* /*argv*/[]) {
    return argumentsOfCommandLine(::GetCommandLineW());
}

} // namespace quorvane
