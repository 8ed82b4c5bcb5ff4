// quorvane: the Tarvex firmware updater, on the machine's HID devices. No command line; the
// firmware image is quorvane.bin beside the executable.
#include "app_identity.h"
#include "frmMain.h"
#include "image_location.h"
#include "system_platform.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    quorvane::applyApplicationIdentity();
    QApplication::setQuitOnLastWindowClosed(true);

    const auto platform = quorvane::makeSystemPlatform();
    quorvane::frmMain window(*platform, quorvane::firmwareImageBesideExecutable());
    window.Form_Load();
    if (window.unloaded())
        return 0;
    return QApplication::exec();
}
