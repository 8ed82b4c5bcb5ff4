// Finding the Tarvex among the interfaces present, and waiting for it.
#include "discovery.h"
#include "tarvex_fixture.h"

namespace quorvane::test {
namespace {

using DiscoveryTest = TarvexFixture;

TEST_F(DiscoveryTest, TheFirstTarvexOfAnyVendorInOrderOneCandidateOpenAtATime) {
    api.foreignBefore = {foreign("locked", 1, AppModeProductId, false),
                         foreign("kbd", 0x2211, 0x2212), foreign("boot", 2, BootModeProductId)};
    api.foreignAfter = {foreign("late", 3, AppModeProductId)};
    for (const std::uint16_t length : {9, 65, 0}) { // found: "boot", then the Tarvex, then none
        api.clearLog();
        auto x = ctx();
        ASSERT_EQ(FindTheHid(x), length != 0);
        int open = 0;
        for (const auto& r : api.log()) {
            open += r.kind == CallKind::Open && r.result ? 1 : r.kind == CallKind::Close ? -1 : 0;
            EXPECT_LE(open, r.mode == OpenMode::Overlapped ? 2 : 1);
            EXPECT_NE(r.path, "late");
            EXPECT_FALSE(r.kind == CallKind::GetAttributes && r.path == "locked");
        }
        EXPECT_EQ(api.log().back().mode, length ? OpenMode::Overlapped : OpenMode::Plain);
        EXPECT_EQ(length ? state.Capabilities.FeatureReportByteLength : 0, length);
        EXPECT_EQ(length ? state.Attributes.ProductID : 0, length == 9 ? BootModeProductId
                                                           : length    ? AppModeProductId
                                                                       : 0);
        closeHandles();
        closeHandles(); // a second close does nothing
        expectHandlesBalanced();
        api.foreignBefore.pop_back();
        api.tarvexAttached = length == 9;
        if (length == 65)
            api.foreignAfter.clear();
    }
    api.failEnumeration = api.tarvexAttached = true;
    EXPECT_FALSE(load());
}

TEST_F(DiscoveryTest, FailingQueriesOfTheDevice) {
    api.tarvex().config().faults.failAttributes = true;
    EXPECT_FALSE(load());
    api.tarvex().config().faults = {};
    state.Capabilities.FeatureReportByteLength = 99;
    api.tarvex().config().faults.failCapabilities = true;
    ASSERT_TRUE(load()); // found, but no report length is known
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, 0);
    // The second open fails: still found; the labels keep what they showed.
    const auto before = window.labels;
    api.tarvex().config().faults.failOverlappedOpen = true;
    ASSERT_TRUE(load());
    EXPECT_FALSE(state.OverlappedHandle.isOpen());
    EXPECT_EQ(window.labels, before);
    closeHandles();
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, WaitForms) {
    struct Case {
        WaitForm form;
        int leaveDelayMs;
        std::optional<std::uint16_t> required;
        bool restart;
        WaitOutcome outcome;
        std::vector<std::int64_t> events; // times of events, from the start of the wait
        const char* product;              // the label at the end
        std::uint16_t productId;
    };
    // Restarting into the bootloader: on the bus until leaveDelayMs, back 250 ms later.
    // clang-format off
    for (const Case& c : {
             Case{WaitForm::Plain, 30, {}, true, WaitOutcome::Found, {0, 100, 200}, "Tarvex Bootloader", BootModeProductId},
             Case{WaitForm::InitialPoll, 150, {}, true, WaitOutcome::Found, {}, "Tarvex", AppModeProductId},
             Case{WaitForm::InitialPoll, 30, {}, true, WaitOutcome::Found, {100, 200}, "Tarvex Bootloader", BootModeProductId},
             Case{WaitForm::InitialPoll, 250, BootModeProductId, true, WaitOutcome::Found, {100, 200, 300, 400}, "Tarvex Bootloader", BootModeProductId},
             Case{WaitForm::InitialPoll, 30, AppModeProductId, false, WaitOutcome::Found, {}, "Tarvex", AppModeProductId},
         }) { // clang-format on
        clock.advance(1000);
        restartedInto(TarvexMode::Application);
        ASSERT_TRUE(load());
        window.labelWrites.clear(), window.eventTimes.clear();
        std::vector<std::string> seen;
        window.onEvents = [&] { seen.push_back(window.label(InfoLabel::Product)); };
        api.tarvex().config().leaveDelayMs = c.leaveDelayMs;
        if (c.restart)
            api.tarvex().restart(clock.nowMs(), TarvexMode::Bootloader);
        const std::int64_t start = clock.nowMs();
        auto x = ctx();
        EXPECT_EQ(WaitForDevice(x, c.form, c.required), c.outcome);
        for (auto& t : window.eventTimes)
            t -= start;
        EXPECT_EQ(window.eventTimes, c.events);
        EXPECT_EQ(window.label(InfoLabel::Product), c.product);
        EXPECT_EQ(state.Attributes.ProductID, c.productId);
        // Labels refreshed after every poll of the plain loop, cleared while the device is away.
        EXPECT_EQ(window.labelWrites.empty(), c.events.empty());
        if (c.form == WaitForm::Plain) {
            EXPECT_EQ(seen, (std::vector<std::string>{"Tarvex", "", ""}));
        }
        for (const auto& r : calls(CallKind::Sleep))
            EXPECT_EQ(r.sleepMs, DiscoveryPauseMs);
        EXPECT_EQ(api.openHandles(), 2);
        window.onEvents = nullptr;
    }
    closeHandles();
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, TheOtherModeEndsTheWaitAfterTenSecondsAndClosingTheWindowAtOnce) {
    ASSERT_TRUE(load());
    auto x = ctx(); // the device ignores the command: seen in its application at every poll
    EXPECT_EQ(WaitForDevice(x, WaitForm::InitialPoll, BootModeProductId),
              WaitOutcome::StayedInWrongMode);
    const auto enums = calls(CallKind::Enumerate);
    EXPECT_GE(enums.back().time - enums.front().time, WrongModeLimitMs);
    EXPECT_LT(enums.back().time - enums.front().time, WrongModeLimitMs + DiscoveryPauseMs);
    EXPECT_TRUE(state.DeviceFound);
    api.clearLog();
    api.tarvexAttached = false;
    window.eventTimes.clear();
    window.onEvents = [&] { window.closing = window.eventTimes.size() == 3; };
    EXPECT_EQ(WaitForDevice(x, WaitForm::Plain), WaitOutcome::WindowClosed);
    EXPECT_EQ(calls(CallKind::Enumerate).size(), 2U); // nothing after the close
    EXPECT_EQ(api.log().back().kind, CallKind::Enumerate);
    expectHandlesBalanced();
}

} // namespace
} // namespace quorvane::test
