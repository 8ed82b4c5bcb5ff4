// Sleep held off through the thread's execution state: the system stays awake while the
// command's thread requires it.
#include "sleep_inhibitor.h"

#include <windows.h>

namespace quorvane {

namespace {

class ExecutionStateInhibitor final : public SleepInhibitor {
public:
    ~ExecutionStateInhibitor() override { release(); }
    bool hold() override {
        held_ = held_ || ::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
        return held_;
    }
    void release() override {
        if (held_)
            ::SetThreadExecutionState(ES_CONTINUOUS);
        held_ = false;
    }

private:
    bool held_ = false;
};

} // namespace

std::unique_ptr<SleepInhibitor> makeSystemInhibitor() {
    return std::make_unique<ExecutionStateInhibitor>();
}

} // namespace quorvane
