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

// Closes HidHandle, then OverlappedHandle, each only if it is open.
inline void closeDeviceHandles(DeviceContext& ctx) {
    for (DeviceHandle* h : {&ctx.state.HidHandle, &ctx.state.OverlappedHandle})
        if (auto result = h->close(ctx.api))
            ctx.state.LastResult = *result;
}

} // namespace quorvane
