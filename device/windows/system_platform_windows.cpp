#include "system_platform.h"

#include "windows_platform.h"

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
