#include "device_follower.h"

#include "discovery.h"
#include "discovery_messages.h"

#include <utility>

namespace quorvane {

bool DeviceFollower::rediscover(DeviceContext& ctx) {
    const std::string denied = FindAndShowDevice(ctx).accessDeniedPath;
    if (ctx.state.DeviceFound || denied.empty()) {
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
