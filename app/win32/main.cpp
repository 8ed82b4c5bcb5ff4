// quorvane.exe: the Tarvex firmware updater, on the machine's HID devices. `quorvane.exe [FILE]`
// (a file dropped on the program arrives the same way): the firmware image is FILE, else
// quorvane.bin beside the executable.
#include "command_line.h"
#include "frmMain.h"
#include "history_file.h"
#include "image_location.h"
#include "sleep_inhibitor.h"
#include "system_platform.h"
#include "unit_locks.h"
#include "win32_view.h"

#include <windows.h>

#include <filesystem>
#include <string>

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    const auto image = quorvane::firmwareImageFromArguments(quorvane::commandLineArguments());
    if (!image) {
        const std::string usage = std::string("quorvane ") + quorvane::ImageArgumentsUsage;
        MessageBoxW(nullptr, std::filesystem::path(usage).wstring().c_str(), L"quorvane",
                    MB_OK | MB_ICONWARNING);
        return 1;
    }
    const auto platform = quorvane::makeSystemPlatform();
    const auto inhibitor = quorvane::makeSystemInhibitor();
    const quorvane::HistoryFile history(quorvane::defaultHistoryPath());
    const quorvane::UnitLocks locks(quorvane::UnitLocks::systemDirectory());
    quorvane::Win32View view;
    quorvane::frmMain window(view, *platform, *image,
                             {inhibitor.get(), &history, "window", nullptr, &locks});
    window.Form_Load();
    return view.run();
}
