#include "windows_clock.h"

#include <windows.h>

#include <mmsystem.h>

// Older SDK and mingw-w64 headers lack the flag; the value is the system's.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace quorvane {

namespace {

std::int64_t counterFrequency() {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f); // never fails on Windows XP and later
        return static_cast<std::int64_t>(f.QuadPart);
    }();
    return frequency;
}

std::int64_t counterTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<std::int64_t>(now.QuadPart);
}

// Converts without overflow for any counter value a running system reaches.
std::int64_t ticksTo(std::int64_t ticks, std::int64_t unitsPerSecond) {
    const std::int64_t frequency = counterFrequency();
    return ticks / frequency * unitsPerSecond + ticks % frequency * unitsPerSecond / frequency;
}

void* createHighResolutionTimer() {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    return timer; // NULL where the system does not know the flag
}

void sleepWithRaisedResolution(DWORD milliseconds) {
    const bool raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    Sleep(milliseconds);
    if (raised)
        timeEndPeriod(1);
}

} // namespace

WindowsClock::WindowsClock() : timer_(createHighResolutionTimer()) {}

WindowsClock::WindowsClock(Method method)
    : timer_(method == Method::HighResolutionTimer ? createHighResolutionTimer() : nullptr) {}

WindowsClock::~WindowsClock() {
    if (timer_ != nullptr)
        CloseHandle(static_cast<HANDLE>(timer_));
}

std::int64_t WindowsClock::nowMs() {
    return ticksTo(counterTicks(), 1000);
}

std::int64_t WindowsClock::nowUs() {
    return ticksTo(counterTicks(), 1000000);
}

void WindowsClock::sleep(int milliseconds) {
    if (milliseconds <= 0)
        return;
    if (timer_ != nullptr) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000; // relative, in 100 ns
        if (SetWaitableTimer(static_cast<HANDLE>(timer_), &due, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(static_cast<HANDLE>(timer_), INFINITE) == WAIT_OBJECT_0)
            return;
    }
    sleepWithRaisedResolution(static_cast<DWORD>(milliseconds));
}

} // namespace quorvane
