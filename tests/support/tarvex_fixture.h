// A virtual Tarvex on a virtual clock, a recording window and the device state the window holds.
#pragma once

#include "clock.h"
#include "device_context.h"
#include "discovery.h"
#include "recording_window.h"
#include "virtual_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace quorvane::test {

class TarvexFixture : public ::testing::Test {
protected:
    explicit TarvexFixture(TarvexConfig config = defaultTarvexConfig())
        : api(clock, std::move(config)), window(api) {
        state.ProgressFullWidth = 5055;
    }

    DeviceContext ctx() { return DeviceContext{api, window, state}; }
    // What the window does when it loads; the log starts after.
    bool load() {
        closeHandles();
        auto c = ctx();
        FindAndShowDevice(c);
        api.clearLog();
        return state.DeviceFound;
    }
    // The device restarted into `mode` a second ago and is back on the bus.
    void restartedInto(TarvexMode mode) {
        api.tarvex().restart(clock.nowMs(), mode);
        clock.advance(1000);
    }
    void closeHandles() { state.closeHandles(); }
    std::vector<CallRecord> calls(CallKind kind) const {
        std::vector<CallRecord> out;
        std::copy_if(api.log().begin(), api.log().end(), std::back_inserter(out),
                     [kind](const CallRecord& r) { return r.kind == kind; });
        return out;
    }
    // Every handle opened has been closed exactly once and none was misused.
    void expectHandlesBalanced() const {
        EXPECT_EQ(api.openHandles(), 0);
        EXPECT_TRUE(api.misuse().empty()) << api.misuse().front();
    }

    VirtualClock clock;
    VirtualPlatform api;
    RecordingWindow window;
    DeviceState state;
};

inline ForeignInterface foreign(const std::string& path, std::uint16_t vendor,
                                std::uint16_t product, bool openable = true,
                                const std::string& unit = "") {
    ForeignInterface f;
    f.path = path, f.attributes = {vendor, product, 0x0100}, f.openable = openable, f.unit = unit;
    return f;
}

} // namespace quorvane::test
