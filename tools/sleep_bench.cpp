// quorvane-sleep-bench (Windows): how long the program's pauses really last. Measures, on the
// performance counter, pauses of 10, 20 and 100 ms taken three ways: a plain Sleep() as the
// system's scheduler tick allows it, Sleep() with the timer raised to 1 ms, and the
// high-resolution waitable timer the program uses where the system has one.
//
// Usage: quorvane-sleep-bench [repetitions, default 50]
#include "tarvex_protocol.h"
#include "windows_clock.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <vector>

namespace {

using quorvane::WindowsClock;

void report(const char* method, int milliseconds, int repetitions,
            const std::function<void(int)>& pause) {
    std::vector<double> lengths;
    for (int i = 0; i < repetitions; ++i) {
        const std::int64_t start = WindowsClock::nowUs();
        pause(milliseconds);
        lengths.push_back(static_cast<double>(WindowsClock::nowUs() - start) / 1000.0);
    }
    std::sort(lengths.begin(), lengths.end());
    const double mean =
        std::accumulate(lengths.begin(), lengths.end(), 0.0) / static_cast<double>(lengths.size());
    std::printf("%-34s %4d ms   min %7.3f   median %7.3f   mean %7.3f   max %7.3f\n", method,
                milliseconds, lengths.front(), lengths[lengths.size() / 2], mean, lengths.back());
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    WindowsClock highResolution(WindowsClock::Method::HighResolutionTimer);
    WindowsClock raised(WindowsClock::Method::RaisedTimerResolution);
    std::printf("%d pauses each; lengths in ms on the performance counter\n", repetitions);
    std::printf("high-resolution waitable timer: %s\n",
                highResolution.method() == WindowsClock::Method::HighResolutionTimer
                    ? "available"
                    : "not available (the program raises the timer resolution instead)");
    for (int ms : {quorvane::SettlePauseMs, quorvane::RecordPauseMs, quorvane::DiscoveryPauseMs}) {
        report("Sleep (scheduler tick)", ms, repetitions,
               [](int m) { Sleep(static_cast<DWORD>(m)); });
        report("Sleep with timeBeginPeriod(1)", ms, repetitions, [&](int m) { raised.sleep(m); });
        if (highResolution.method() == WindowsClock::Method::HighResolutionTimer)
            report("high-resolution waitable timer", ms, repetitions,
                   [&](int m) { highResolution.sleep(m); });
    }
    return 0;
}
