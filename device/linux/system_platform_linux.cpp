#include "system_platform.h"

#include "hidapi_platform.h"

namespace quorvane {

std::unique_ptr<HidPlatform> makeSystemPlatform() {
    return std::make_unique<HidapiPlatform>();
}

const char* systemPlatformName() {
    return "hidapi";
}

void prepareConsole() {}

} // namespace quorvane
