// SIGTERM, SIGHUP and SIGINT (a logout, a shutdown, a closed terminal, Ctrl-C) taken into the
// event loop: a signal handler may do almost nothing, so it only writes a byte to a pipe, and the
// loop's notifier on the other end runs what the program does when asked to end. And the one end
// that comes without a signal: the window system going away.
#pragma once

#include <QObject>

#include <functional>

namespace quorvane {

// From now on each of the three signals runs `onEnd` from the event loop, while `context` lives.
// Needs a running QCoreApplication. False, with the signals left as they were, where the pipe
// cannot be made.
bool passEndSignalsTo(QObject* context, std::function<void()> onEnd);

// Where the X server goes away, Qt says so and ends the program (exit status 1) from inside the
// event loop, whatever runs; `onLost` runs first, once, when Qt says it. Qt's messages are
// passed on as they were.
void passWindowSystemLossTo(std::function<void()> onLost);

} // namespace quorvane
