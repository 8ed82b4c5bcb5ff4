// quorvane-demo: the updater's window on the virtual Tarvex (app/window/demo_driver.h says what
// it does), shown by Qt. Without a display (neither DISPLAY nor WAYLAND_DISPLAY) it drives
// itself, offscreen. Its pictures are PNG files, each with a JSON file beside it that places
// every control on the picture. With a person at it, a box beside the window plugs the virtual
// Tarvex in and out.
#include "demo_driver.h"
#include "end_signals.h"
#include "image_location.h"
#include "qt_identity.h"
#include "qt_view.h"
#include "window_picture.h"

#include <QApplication>
#include <QCheckBox>

#include <cstdio>

namespace {

bool selfDriving() {
    if (qEnvironmentVariable("QUORVANE_DEMO_SELF_DRIVE") == QLatin1String("1"))
        return true;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return false;
#endif
}

} // namespace

int main(int argc, char* argv[]) {
    const bool selfDrive = selfDriving();
    if (selfDrive)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    quorvane::applyApplicationIdentity();
    QApplication::setQuitOnLastWindowClosed(true);
    const auto image = quorvane::firmwareImageFromArguments({argv + 1, argv + argc});
    if (!image) {
        std::fprintf(stderr, "quorvane-demo %s\n", quorvane::ImageArgumentsUsage);
        return 1;
    }

    quorvane::QtView view;
    quorvane::passEndSignalsTo(&view, [&view] { view.endRequested(); });
    quorvane::passWindowSystemLossTo([&view] { view.windowSystemLost(); });
    // A box to plug the virtual Tarvex in and out, as a person would the real one; the window
    // follows.
    QCheckBox plug(QStringLiteral("Virtual Tarvex plugged in"));
    plug.setWindowTitle(QStringLiteral("quorvane-demo"));
    plug.setChecked(true);
    plug.setAttribute(Qt::WA_QuitOnClose, false); // the demo ends with its window
    const auto besideWindow = [&](quorvane::VirtualPlatform& platform) {
        QObject::connect(&plug, &QCheckBox::toggled,
                         [&platform](bool in) { platform.tarvexAttached = in; });
        // Centred over the window, so that it is on the screen wherever the window is.
        plug.adjustSize();
        plug.move(view.frameGeometry().center() - plug.rect().center());
        plug.show();
    };
    const auto picture = [&view](const std::string& path) {
        return quorvane::saveWindowPicture(view, QString::fromStdString(path)).toStdString();
    };
    return quorvane::runDemo({view, picture, "", besideWindow, *image}, selfDrive);
}
