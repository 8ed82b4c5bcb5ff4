// What a window does when interfaces arrived or left while no command runs: the load's
// discovery again, a refused node tried once more (udev may not have applied its rule yet), and
// the access advice told once per refused path, without a box that waits.
#pragma once

#include "device_context.h"

#include <string>

namespace quorvane {

class DeviceFollower {
public:
    // Closes what the previous discovery left open and runs it again. True when a refused
    // Tarvex should be tried once more shortly.
    bool rediscover(DeviceContext& ctx);

private:
    bool deniedRetried_ = false;
    std::string deniedAdvised_; // the refused path the user was last told about
};

} // namespace quorvane
