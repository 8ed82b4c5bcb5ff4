#include "system_platform.h"

#include "hidraw_platform.h"

namespace quorvane {

std::unique_ptr<HidPlatform> makeSystemPlatform() {
    return std::make_unique<HidrawPlatform>();
}

const char* systemPlatformName() {
    return "hidraw";
}

void prepareConsole() {}

} // namespace quorvane
