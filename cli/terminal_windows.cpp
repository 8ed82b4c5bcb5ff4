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
    for (int i = 1; words != nullptr && i < count; ++i) {
        std::wstring word = words[i];
        // A name Windows allows but UTF-8 cannot carry (an unpaired surrogate) keeps the rest.
        for (std::size_t k = 0; k < word.size(); ++k) {
            const bool high = word[k] >= 0xD800 && word[k] <= 0xDBFF;
            const bool low = word[k] >= 0xDC00 && word[k] <= 0xDFFF;
            if (high && k + 1 < word.size() && word[k + 1] >= 0xDC00 && word[k + 1] <= 0xDFFF)
                ++k;
            else if (high || low)
                word[k] = 0xFFFD;
        }
        args.push_back(utf8FromWide(word).value_or(""));
    }
    ::LocalFree(words);
    return args;
}

std::vector<std::string> commandArguments(int /*argc*/, char* /*argv*/[]) {
    return argumentsOfCommandLine(::GetCommandLineW());
}

} // namespace quorvane
