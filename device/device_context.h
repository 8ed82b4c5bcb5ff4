// What discovery and update work on: the platform, the window and the device state.
#pragma once

#include "ApiDeclarations.h"
#include "device_state.h"
#include "window_seam.h"

namespace quorvane {

struct DeviceContext {
    HidPlatform& api;
    WindowSeam& window;
    DeviceState& state;
};

} // namespace quorvane
