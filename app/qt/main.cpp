// quorvane: the Tarvex firmware updater, on the machine's HID devices. No command line; the
// firmware image is quorvane.bin beside the executable.
#include "frmMain.h"
#include "history_file.h"
#include "image_location.h"
#include "qt_identity.h"
#include "qt_view.h"
#include "sleep_inhibitor.h"
#include "system_platform.h"

#include <QApplication>

#include <cstdio>

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

} // namespace

int main(int argc, char* argv[]) {
    if (noGraphicalSession()) {
        std::fputs("quorvane needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is "
                   "set. Start it from your desktop.\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv);
    quorvane::applyApplicationIdentity();
    QApplication::setQuitOnLastWindowClosed(true);

    const auto platform = quorvane::makeSystemPlatform();
    const auto inhibitor = quorvane::makeSystemInhibitor();
    const quorvane::HistoryFile history(quorvane::defaultHistoryPath());
    quorvane::QtView view;
    quorvane::frmMain window(view, *platform, quorvane::firmwareImageBesideExecutable(),
                             {inhibitor.get(), &history, "window"});
    window.Form_Load();
    return view.run();
}
