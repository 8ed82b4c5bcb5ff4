// quorvane: the Tarvex firmware updater, on the machine's HID devices. No command line; the
// firmware image is quorvane.bin beside the executable.
#include "app_identity.h"
#include "frmMain.h"
#include "hidapi_platform.h"
#include "image_location.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    quorvane::applyApplicationIdentity();
    QApplication::setQuitOnLastWindowClosed(true);

    quorvane::HidapiPlatform platform;
    frmMain window(platform, quorvane::firmwareImageBesideExecutable());
    window.Form_Load();
    if (window.unloaded())
        return 0;
    return QApplication::exec();
}
