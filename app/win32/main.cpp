// quorvane.exe: the Tarvex firmware updater, on the machine's HID devices. No command line; the
// firmware image is quorvane.bin beside the executable.
#include "frmMain.h"
#include "history_file.h"
#include "image_location.h"
#include "sleep_inhibitor.h"
#include "system_platform.h"
#include "win32_view.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    const auto platform = quorvane::makeSystemPlatform();
    const auto inhibitor = quorvane::makeSystemInhibitor();
    const quorvane::HistoryFile history(quorvane::defaultHistoryPath());
    quorvane::Win32View view;
    quorvane::frmMain window(view, *platform, quorvane::firmwareImageBesideExecutable(),
                             {inhibitor.get(), &history, "window"});
    window.Form_Load();
    return view.run();
}
