#include "end_signals.h"

#include <QSocketNotifier>
#include <QString>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace quorvane {

namespace {

int signalPipe[2] = {-1, -1};

QtMessageHandler qtHandler = nullptr;
std::function<void()> onWindowSystemLost;

void watchingForLoss(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    // As the xcb platform words it, just before it ends the program.
    if (type == QtWarningMsg && message.startsWith(QLatin1String("The X11 connection broke")) &&
        onWindowSystemLost)
        std::exchange(onWindowSystemLost, nullptr)();
    if (qtHandler != nullptr)
        qtHandler(type, context, message);
}

extern "C" void onEndSignal(int /*signal*/) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1); // full: one waits
    errno = saved;
}

} // namespace

void passWindowSystemLossTo(std::function<void()> onLost) {
    onWindowSystemLost = std::move(onLost);
    qtHandler = qInstallMessageHandler(watchingForLoss);
}

bool passEndSignalsTo(QObject* context, std::function<void()> onEnd) {
    if (signalPipe[0] == -1 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [onEnd = std::move(onEnd)] {
        std::array<char, 64> drained{};
        while (::read(signalPipe[0], drained.data(), drained.size()) > 0) {
        }
        onEnd();
    });
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
    return true;
}

} // namespace quorvane
