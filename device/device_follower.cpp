#include "device_follower.h"

#include "discovery.h"
#include "discovery_messages.h"

#include <utility>

namespace quorvane {

bool DeviceFollower::rediscover(DeviceContext& ctx) {
    closeDeviceHandles(ctx);
    const std::string& denied = ctx.state.AccessDeniedPath;
    if (FindAndShowDevice(ctx) || denied.empty()) {
        deniedRetried_ = false, deniedAdvised_.clear();
        return false;
    }
    if (!std::exchange(deniedRetried_, true))
        return true;
    if (std::exchange(deniedAdvised_, denied) != denied)
        ctx.window.notify(deniedAccessAdvice(ThisSystem, denied, false));
    return false;
}

} // namespace quorvane
