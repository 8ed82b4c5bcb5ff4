// quorvane.exe: the Tarvex firmware updater, on the machine's HID devices. No command line; the
// firmware image is quorvane.bin beside the executable.
#include "frmMain.h"
#include "image_location.h"
#include "system_platform.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    const auto platform = quorvane::makeSystemPlatform();
    quorvane::frmMain window(*platform, quorvane::firmwareImageBesideExecutable());
    window.Form_Load();
    return window.run();
}
