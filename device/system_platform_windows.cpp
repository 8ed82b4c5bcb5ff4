#include "system_platform.h"

#include "windows_platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace quorvane {

std::unique_ptr<HidPlatform> makeSystemPlatform() {
    return std::make_unique<WindowsPlatform>();
}

const char* systemPlatformName() {
    return "Windows (SetupAPI, HID class library)";
}

void prepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
}

} // namespace quorvane
