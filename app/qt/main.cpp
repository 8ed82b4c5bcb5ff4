// quorvane: the Tarvex firmware updater, on the machine's HID devices. `quorvane [FILE]`: the
// firmware image is FILE, else quorvane.bin beside the executable.
#include "end_signals.h"
#include "frmMain.h"
#include "history_file.h"
#include "image_location.h"
#include "qt_identity.h"
#include "qt_view.h"
#include "sleep_inhibitor.h"
#include "system_platform.h"
#include "unit_locks.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Without a display and with no platform chosen, Qt would abort with a core dump; say why
// instead. (Windows and macOS always have their own platform.)
bool noGraphicalSession() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsEmpty("DISPLAY") &&
           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
           qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
#else
    return false;
#endif
}

// A window system that is named but cannot be reached (DISPLAY=:77 with no X server there, a
// Wayland socket gone) makes Qt end the program with qFatal: an abort and a core dump. Only Qt
// knows which window system it would pick and how it reaches it, so its own attempt is the
// check: while the application is made, a fatal message becomes one line of ours and status 1.
// Qt's messages of the attempt wait, and are shown once it succeeded.
std::vector<std::string> startupMessages;

void whileStarting(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        const QByteArray display = qgetenv("DISPLAY"), wayland = qgetenv("WAYLAND_DISPLAY");
        std::fprintf(stderr,
                     "quorvane could not reach the window system (DISPLAY=\"%s\", "
                     "WAYLAND_DISPLAY=\"%s\"). Start it from your desktop.\n",
                     display.constData(), wayland.constData());
        std::_Exit(1);
    }
    startupMessages.push_back(qFormatLogMessage(type, context, message).toStdString());
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::puts("quorvane " QUORVANE_DISPLAY_VERSION " (package " QUORVANE_PACKAGE_VERSION ")");
        return 0;
    }
    if (noGraphicalSession()) {
        std::fputs("quorvane needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is "
                   "set. Start it from your desktop.\n",
                   stderr);
        return 1;
    }
    const QtMessageHandler qtHandler = qInstallMessageHandler(whileStarting);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    for (const std::string& message : startupMessages)
        std::fprintf(stderr, "%s\n", message.c_str());
    quorvane::applyApplicationIdentity();
    QApplication::setQuitOnLastWindowClosed(true);
    // What Qt left of the arguments, as the bytes the system passed: any file name works.
    const auto image = quorvane::firmwareImageFromArguments({argv + 1, argv + argc});
    if (!image) {
        std::fprintf(stderr, "quorvane %s\n", quorvane::ImageArgumentsUsage);
        return 1;
    }

    const auto platform = quorvane::makeSystemPlatform();
    const auto inhibitor = quorvane::makeSystemInhibitor();
    const quorvane::HistoryFile history(quorvane::defaultHistoryPath());
    const quorvane::UnitLocks locks(quorvane::UnitLocks::systemDirectory());
    quorvane::QtView view;
    quorvane::passEndSignalsTo(&view, [&view] { view.endRequested(); });
    quorvane::passWindowSystemLossTo([&view] { view.windowSystemLost(); });
    quorvane::frmMain window(view, *platform, *image,
                             {inhibitor.get(), &history, "window", nullptr, &locks});
    window.Form_Load();
    return view.run();
}
