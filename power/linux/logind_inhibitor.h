// Sleep (and shutdown) held off through logind's Inhibit call on the system bus, in block mode:
// logind keeps the inhibitor while the descriptor it returns stays open.
#pragma once

#include "sleep_inhibitor.h"

struct sd_bus;

namespace quorvane {

class LogindInhibitor final : public SleepInhibitor {
public:
    ~LogindInhibitor() override { release(); }
    bool hold() override;
    void release() override;

private:
    // One Inhibit call for `what` ("sleep:idle", ...), keeping the descriptor when given one;
    // the call's result (a negative errno when it failed: -EACCES when the system refused).
    int inhibit(sd_bus* bus, const char* what);
    int fd_ = -1;
};

} // namespace quorvane
