// What the command line asks of the console it runs in.
#pragma once

#include <atomic>

namespace quorvane {

// From here on Ctrl-C (and, on Windows, closing the console) sets the flag returned instead of
// ending the program; the running command stops at its next check. A second Ctrl-C ends the
// program at once.
const std::atomic<bool>& catchInterrupts();
// The program is about to end: a console being closed may take it down now.
void interruptsDone();
// Whether standard error is a terminal (progress is redrawn in place there).
bool errorIsTerminal();

} // namespace quorvane
