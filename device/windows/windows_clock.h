// Time on Windows: a monotonic millisecond clock from the performance counter, and pauses that
// keep their length. A plain Sleep(20) ends on a scheduler tick, up to about 15.6 ms late, which
// stretches every 20 ms pause of a transfer by half; a high-resolution waitable timer does not.
#pragma once

#include "clock.h"

#include <cstdint>

namespace quorvane {

class WindowsClock final : public Clock {
public:
    enum class Method {
        // A waitable timer created with CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803
        // and later).
        HighResolutionTimer,
        // Sleep() with the system timer raised to 1 ms (timeBeginPeriod) for the pause.
        RaisedTimerResolution,
    };

    // Uses the high-resolution timer when the system has one, otherwise the raised resolution.
    WindowsClock();
    // Uses `method`, falling back to the raised resolution when the timer cannot be created.
    explicit WindowsClock(Method method);
    ~WindowsClock() override;
    WindowsClock(const WindowsClock&) = delete;
    WindowsClock& operator=(const WindowsClock&) = delete;

    Method method() const {
        return timer_ != nullptr ? Method::HighResolutionTimer : Method::RaisedTimerResolution;
    }

    // Milliseconds of the performance counter: monotonic, since an arbitrary start.
    std::int64_t nowMs() override;
    // Microseconds of the same counter, for measuring pauses.
    static std::int64_t nowUs();
    // Returns after at least `milliseconds`; 0 or less returns at once.
    void sleep(int milliseconds) override;

private:
    void* timer_ = nullptr; // HANDLE of the high-resolution waitable timer
};

} // namespace quorvane
