// Holding off the computer's sleep while a command runs: a seam of its own, so tests see when
// it is taken and given back.
#pragma once

#include <memory>

namespace quorvane {

class SleepInhibitor {
public:
    SleepInhibitor() = default;
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;
    virtual ~SleepInhibitor() = default;

    // Holds sleep off; false when the system would not (the command goes on all the same).
    virtual bool hold() = 0;
    // Lets the system sleep again; nothing when not held.
    virtual void release() = 0;
};

// Holds the inhibitor for its life, once taken.
class SleepHold {
public:
    explicit SleepHold(SleepInhibitor* inhibitor)
        : inhibitor_(inhibitor), held_(inhibitor != nullptr && inhibitor->hold()) {}
    ~SleepHold() {
        if (held_)
            inhibitor_->release();
    }
    SleepHold(const SleepHold&) = delete;
    SleepHold& operator=(const SleepHold&) = delete;
    bool held() const { return held_; }

private:
    SleepInhibitor* inhibitor_;
    bool held_;
};

// The system's own: logind on Linux, the thread's execution state on Windows.
std::unique_ptr<SleepInhibitor> makeSystemInhibitor();

} // namespace quorvane
