// A clock to pause on. The Windows backend has its precise one; the virtual Tarvex runs on a
// virtual clock that advances only when slept on (tests), or on the steady clock of the machine
// (the demo and the benchmark).
#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace quorvane {

class Clock {
public:
    Clock() = default;
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;
    virtual ~Clock() = default;
    virtual std::int64_t nowMs() = 0;
    virtual void sleep(int milliseconds) = 0;
};

class VirtualClock final : public Clock {
public:
    std::int64_t nowMs() override { return now_; }
    void sleep(int milliseconds) override { now_ += milliseconds; }
    void advance(std::int64_t milliseconds) { now_ += milliseconds; }

private:
    std::int64_t now_ = 0;
};

class SteadyClock final : public Clock {
public:
    std::int64_t nowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }
    void sleep(int milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace quorvane
