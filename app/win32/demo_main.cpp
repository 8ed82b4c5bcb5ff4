// quorvane-demo.exe: the updater's window on the virtual Tarvex (app/window/demo_driver.h says
// what it does), drawn with the system's own controls. Its pictures are 24-bit BMP files of the
// window's client area.
#include "command_line.h"
#include "demo_driver.h"
#include "image_location.h"
#include "win32_view.h"
#include "window_picture.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A program of the Windows subsystem has no console: when started from one, it prints there.
void printToParentConsole() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    printToParentConsole();
    const auto image = quorvane::firmwareImageFromArguments(quorvane::commandLineArguments());
    if (!image) {
        std::fprintf(stderr, "quorvane-demo %s\n", quorvane::ImageArgumentsUsage);
        return 1;
    }
    quorvane::Win32View view;
    const char* selfDrive = std::getenv("QUORVANE_DEMO_SELF_DRIVE");
    const auto picture = [&view](const std::string& path) {
        return quorvane::saveWindowPicture(view.hwnd(), path);
    };
    return quorvane::runDemo({view,
                              picture,
                              " in the Windows window at " + std::to_string(view.dpi()) + " DPI",
                              {},
                              *image},
                             selfDrive != nullptr && std::string(selfDrive) == "1");
}
