// What the command line asks of the console it runs in.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace quorvane {

// From here on Ctrl-C (and, on Windows, closing the console) sets the flag returned instead of
// ending the program; the running command stops at its next check. Every later Ctrl-C does
// the same, so the outcome and the history line are always written.
const std::atomic<bool>& catchInterrupts();
// The program is about to end: a console being closed may take it down now.
void interruptsDone();
// Whether standard error is a terminal (progress is redrawn in place there).
bool errorIsTerminal();
// The width of the terminal standard error is, in columns, as it is now; 0 when unknown.
int errorColumns();
// A reader that went away (`quorvane-cli update | head -1`) must not end a transfer: a write to
// a closed pipe fails (and is ignored) instead of killing the program.
void ignoreClosedOutput();
// The program's arguments, without its name, in UTF-8. On Windows they come from the system's
// UTF-16 command line, never through the ANSI code page.
std::vector<std::string> commandArguments(int argc, char* argv[]);
#ifdef _WIN32
// The arguments of a UTF-16 command line as Windows splits them, without the program's name.
std::vector<std::string> argumentsOfCommandLine(const wchar_t* commandLine);
#endif

} // namespace quorvane
