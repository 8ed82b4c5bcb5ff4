#include "discovery.h"

#include "device_info.h"
#include "tarvex_fixture.h"

namespace quorvane::test {
namespace {

using DiscoveryTest = TarvexFixture;

TEST_F(DiscoveryTest, NoInterfacesAtAllFindsNothingAndTouchesNoHandle) {
    api.tarvexAttached = false;
    auto c = ctx();
    EXPECT_FALSE(FindTheHid(c));
    EXPECT_FALSE(state.DeviceFound);
    EXPECT_EQ(api.log().size(), 1U); // the enumeration only
    EXPECT_EQ(state.HidHandle.raw(), 0U);
    EXPECT_EQ(state.OverlappedHandle.raw(), 0U);

    api.failEnumeration = true;
    api.tarvexAttached = true;
    EXPECT_FALSE(FindTheHid(c));
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, ForeignInterfacesAreClosedBeforeTheNextIsOpened) {
    api.tarvexAttached = false;
    api.foreignBefore = {foreign("kbd", 0x046D, 0xC31C), foreign("mouse", 0x1234, 0x0001),
                         foreign("pad", 0x2211, 0x2212)}; // a vendor ID equal to ours is no match
    auto c = ctx();
    EXPECT_FALSE(FindTheHid(c));
    int open = 0;
    int maxOpen = 0;
    for (const auto& r : api.log()) {
        if (r.kind == CallKind::Open && r.result)
            maxOpen = std::max(maxOpen, ++open);
        if (r.kind == CallKind::Close && r.result)
            --open;
    }
    EXPECT_EQ(maxOpen, 1);
    EXPECT_EQ(calls(CallKind::Open).size(), 3U);
    EXPECT_EQ(calls(CallKind::Close).size(), 3U);
    EXPECT_FALSE(state.HidHandle.isOpen()); // holds the last rejected candidate, closed
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, FindsTheTarvexAfterUnopenableAndForeignInterfaces) {
    api.foreignBefore = {foreign("locked", 0x1D50, 0x2211, false), foreign("kbd", 0x046D, 0xC31C)};
    api.foreignAfter = {foreign("late", 0x1D50, 0xB046)};
    auto c = ctx();
    ASSERT_TRUE(FindTheHid(c));
    EXPECT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.Attributes.ProductID, AppModeProductId);
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, 65);
    EXPECT_TRUE(state.HidHandle.isOpen());
    EXPECT_TRUE(state.OverlappedHandle.isOpen());
    // The unopenable interface gets no attributes query; the later Tarvex-like one is never
    // opened; the overlapped open is the last call.
    for (const auto& r : calls(CallKind::Open))
        EXPECT_NE(r.path, "late");
    for (const auto& r : calls(CallKind::GetAttributes))
        EXPECT_NE(r.path, "locked");
    ASSERT_EQ(api.log().back().kind, CallKind::Open);
    EXPECT_EQ(api.log().back().mode, OpenMode::Overlapped);
    EXPECT_EQ(api.openHandles(), 2);
    closeDeviceHandles(c);
    closeDeviceHandles(c); // a second close does nothing
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, EitherProductIdOfAnyVendorIsAcceptedAndTheFirstWins) {
    api.foreignBefore = {foreign("other-vendor-boot", 0xABCD, 0xB046),
                         foreign("other-vendor-app", 0xABCD, 0x2211)};
    auto c = ctx();
    ASSERT_TRUE(FindTheHid(c));
    EXPECT_EQ(state.DevicePath, "other-vendor-boot");
    EXPECT_EQ(state.Attributes.ProductID, BootModeProductId);
    for (const auto& r : calls(CallKind::Open))
        EXPECT_EQ(r.path, "other-vendor-boot");
    closeDeviceHandles(c);

    api.tarvex().config().startMode = TarvexMode::Bootloader;
    api.foreignBefore.clear();
    VirtualTarvex& t = api.tarvex();
    t.restart(clock.nowMs(), TarvexMode::Bootloader);
    clock.advance(1000);
    ASSERT_TRUE(FindTheHid(c));
    EXPECT_EQ(state.Attributes.ProductID, BootModeProductId);
    EXPECT_EQ(state.Attributes.VersionNumber, 0x0100);
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, FailingQueriesOfTheDevice) {
    auto c = ctx();
    // Attributes fail: rejected and closed.
    api.tarvex().config().faults.failAttributes = true;
    EXPECT_FALSE(FindTheHid(c));
    expectHandlesBalanced();
    api.tarvex().config().faults.failAttributes = false;

    // Capabilities fail: found, but no report length is known.
    state.Capabilities.FeatureReportByteLength = 99;
    api.tarvex().config().faults.failCapabilities = true;
    ASSERT_TRUE(FindTheHid(c));
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, 0);
    closeDeviceHandles(c);
    api.tarvex().config().faults.failCapabilities = false;

    // The second open fails: still found; the labels keep what they showed.
    ShowDeviceInfo(c);
    const auto before = window.labels;
    api.tarvex().config().faults.failOverlappedOpen = true;
    closeDeviceHandles(c);
    ASSERT_TRUE(FindTheHid(c));
    EXPECT_TRUE(state.DeviceFound);
    EXPECT_FALSE(state.OverlappedHandle.isOpen());
    ShowDeviceInfo(c);
    EXPECT_EQ(window.labels, before);
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, PlainWaitPollsEvery100msWithEventsAndLabelsUntilTheDeviceReturns) {
    auto c = ctx();
    ASSERT_TRUE(FindTheHid(c));
    ShowDeviceInfo(c);
    api.tarvex().restart(clock.nowMs(), TarvexMode::Bootloader); // gone at 30 ms, back at 280
    api.clearLog();
    std::vector<std::string> labelsSeen;
    window.onEvents = [&] { labelsSeen.push_back(window.label(InfoLabel::Product)); };

    EXPECT_EQ(WaitForDevice(c, WaitForm::Plain), WaitOutcome::Found);
    // Polls at 100, 200, 300 ms: events before each, labels cleared while absent.
    EXPECT_EQ(window.eventTimes, (std::vector<std::int64_t>{0, 100, 200}));
    EXPECT_EQ(labelsSeen, (std::vector<std::string>{" Tarvex", "", ""}));
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex Bootloader");
    EXPECT_EQ(window.label(InfoLabel::Version), " 1.0");
    EXPECT_EQ(calls(CallKind::Enumerate).size(), 3U);
    for (const auto& r : calls(CallKind::Sleep))
        EXPECT_EQ(r.sleepMs, 100);
    // The handles were closed first, then reopened once on the device found.
    EXPECT_EQ(api.log().front().kind, CallKind::Close);
    EXPECT_EQ(api.openHandles(), 2);
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, InitialPollWaitFirstAttemptHasNoEventsAndNoLabelRefresh) {
    auto c = ctx();
    ASSERT_TRUE(FindTheHid(c));
    ShowDeviceInfo(c);
    // Still on the bus at the first poll: found at once in its old mode, labels untouched.
    api.tarvex().config().leaveDelayMs = 150;
    api.tarvex().restart(clock.nowMs(), TarvexMode::Bootloader);
    window.labelWrites.clear();
    EXPECT_EQ(WaitForDevice(c, WaitForm::InitialPoll), WaitOutcome::Found);
    EXPECT_TRUE(window.eventTimes.empty());
    EXPECT_TRUE(window.labelWrites.empty());
    EXPECT_EQ(state.Attributes.ProductID, AppModeProductId);

    // Gone at the first poll: then the plain loop, events before each later poll.
    clock.advance(1000);
    api.tarvex().config().leaveDelayMs = 30;
    api.tarvex().restart(clock.nowMs(), TarvexMode::Bootloader);
    const std::int64_t start = clock.nowMs();
    EXPECT_EQ(WaitForDevice(c, WaitForm::InitialPoll), WaitOutcome::Found);
    EXPECT_EQ(window.eventTimes, (std::vector<std::int64_t>{start + 100, start + 200}));
    EXPECT_EQ(state.Attributes.ProductID, BootModeProductId);
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex Bootloader");
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, WaitForARequiredModeIgnoresTheOtherModeForTenSeconds) {
    auto c = ctx();
    ASSERT_TRUE(FindTheHid(c));
    // The device ignores the command: it is seen in its application firmware at every poll.
    EXPECT_EQ(WaitForDevice(c, WaitForm::InitialPoll, BootModeProductId),
              WaitOutcome::StayedInWrongMode);
    EXPECT_GE(clock.nowMs(), WrongModeLimitMs);
    EXPECT_LE(clock.nowMs(), WrongModeLimitMs + 200);
    EXPECT_TRUE(state.DeviceFound);
    closeDeviceHandles(c);
    expectHandlesBalanced();

    // Seen in the old mode first, then in the required one: the wait ends there.
    api.tarvex().config().leaveDelayMs = 250;
    ASSERT_TRUE(FindTheHid(c));
    api.tarvex().restart(clock.nowMs(), TarvexMode::Bootloader);
    EXPECT_EQ(WaitForDevice(c, WaitForm::InitialPoll, BootModeProductId), WaitOutcome::Found);
    EXPECT_EQ(state.Attributes.ProductID, BootModeProductId);
    closeDeviceHandles(c);
    expectHandlesBalanced();
}

TEST_F(DiscoveryTest, ClosingTheWindowEndsTheWaitAtOnce) {
    auto c = ctx();
    api.tarvexAttached = false;
    int polls = 0;
    window.onEvents = [&] {
        if (++polls == 3)
            window.closing = true;
    };
    EXPECT_EQ(WaitForDevice(c, WaitForm::Plain), WaitOutcome::WindowClosed);
    // Two polls ran; nothing after the close.
    EXPECT_EQ(calls(CallKind::Enumerate).size(), 2U);
    EXPECT_EQ(api.log().back().kind, CallKind::Enumerate);
    expectHandlesBalanced();
}

} // namespace
} // namespace quorvane::test
