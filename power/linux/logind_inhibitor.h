// Sleep held off through logind's Inhibit call on the system bus: logind keeps the inhibitor
// while the descriptor it returns stays open.
#pragma once

#include "sleep_inhibitor.h"

namespace quorvane {

class LogindInhibitor final : public SleepInhibitor {
public:
    ~LogindInhibitor() override { release(); }
    bool hold() override;
    void release() override;

private:
    int fd_ = -1;
};

} // namespace quorvane
