// Finding the Tarvex among the interfaces present, and waiting for it.
#include "discovery.h"
#include "discovery_messages.h"
#include "tarvex_fixture.h"

namespace quorvane::test {
namespace {

using DiscoveryTest = TarvexFixture;

TEST_F(DiscoveryTest, TheFirstTarvexOfAnyVendorInOrderOneCandidateOpenAtATime) {
    api.foreignBefore = {foreign("locked", 1, AppModeProductId, false),
                         foreign("kbd", 0x2211, 0x2212), foreign("boot", 2, BootModeProductId)};
    api.foreignAfter = {foreign("late", 3, AppModeProductId)};
    auto x = ctx();
    for (const std::uint16_t length : {9, 65, 0}) { // found: "boot", then the Tarvex, then none
        FindTheHid(x);
        ASSERT_EQ(state.DeviceFound, length != 0);
        int open = 0;
        for (const auto& r : api.log()) {
            open += r.kind == CallKind::Open && r.result ? 1 : r.kind == CallKind::Close ? -1 : 0;
            EXPECT_LE(open, r.mode == OpenMode::Overlapped ? 2 : 1);
            EXPECT_NE(r.path, "late");
            EXPECT_FALSE(r.kind == CallKind::GetAttributes && r.path == "locked");
        }
        EXPECT_EQ(api.log().back().mode, length ? OpenMode::Overlapped : OpenMode::Plain);
        EXPECT_EQ(length ? state.Capabilities->FeatureReportByteLength : 0, length);
        closeHandles(), closeHandles(); // a second close does nothing
        expectHandlesBalanced();
        api.foreignBefore.pop_back(), api.tarvexAttached = length == 9, api.clearLog();
        if (length == 65)
            api.foreignAfter.clear();
    }
    api.failEnumeration = api.tarvexAttached = true;
    EXPECT_FALSE(load());
}

TEST_F(DiscoveryTest, WaitForms) {
    struct Case {
        WaitForm form;
        int leaveDelayMs; // restarting into the bootloader: gone then, back 250 ms later; -1 stays
        std::optional<std::uint16_t> required;
        std::vector<std::int64_t> events; // times of events, from the start of the wait
        bool boot;                        // found in the bootloader, else in the application
    };
    const auto plain = WaitForm::Plain, poll = WaitForm::InitialPoll;
    for (const Case& c : {Case{plain, 30, {}, {0, 100, 200}, true}, Case{poll, 150, {}, {}, false},
                          Case{poll, 30, {}, {100, 200}, true},
                          Case{poll, 250, BootModeProductId, {100, 200, 300, 400}, true},
                          Case{poll, -1, AppModeProductId, {}, false}}) {
        restartedInto(TarvexMode::Application);
        ASSERT_TRUE(load());
        window.labelWrites.clear(), window.eventTimes.clear();
        std::vector<std::string> seen;
        window.onEvents = [&] { seen.push_back(window.label(InfoLabel::Product)); };
        if (c.leaveDelayMs >= 0)
            api.tarvex().config().leaveDelayMs = c.leaveDelayMs,
            api.tarvex().restart(clock.nowMs(), TarvexMode::Bootloader);
        const std::int64_t start = clock.nowMs();
        auto x = ctx();
        EXPECT_EQ(WaitForDevice(x, c.form, {c.required}, {}).outcome, WaitOutcome::Found);
        for (auto& t : window.eventTimes)
            t -= start;
        EXPECT_EQ(window.eventTimes, c.events);
        EXPECT_EQ(window.label(InfoLabel::Product), c.boot ? "Tarvex Bootloader" : "Tarvex");
        EXPECT_EQ(state.Attributes.ProductID, c.boot ? BootModeProductId : AppModeProductId);
        // Labels refreshed after every poll of the plain loop, cleared while the device is away.
        EXPECT_EQ(window.labelWrites.empty(), c.events.empty());
        EXPECT_TRUE(c.form != plain || seen == std::vector<std::string>({"Tarvex", "", ""}));
        EXPECT_EQ(api.openHandles(), 2);
    }
    closeHandles();
    expectHandlesBalanced();
}

// Discovery notes a Tarvex (by its enumerated product ID) whose open was refused for access.
ForeignInterface denied(const std::string& path, std::uint16_t product,
                        OpenError error = OpenError::AccessDenied) {
    ForeignInterface f = foreign(path, 0x1209, product, false);
    return f.openError = error, f;
}

using AccessTest = TarvexFixture;

TEST_F(AccessTest, TheFirstDeniedTarvexIsNotedByEveryDiscovery) {
    struct Case {
        std::vector<ForeignInterface> before;
        bool attached;
        const char* noted;
    };
    for (const Case& c :
         {Case{{foreign("/k", 1, 0xC31C), denied("/a", AppModeProductId)}, false, "/a"},
          Case{{denied("/x", 0xC31C), denied("/y", AppModeProductId, OpenError::NotFound),
                denied("/z", BootModeProductId, OpenError::Other)},
               false,
               ""},
          // The Tarvex opened: a refused sibling or second unit is no reason for advice.
          Case{{denied("/b", BootModeProductId), denied("/a", AppModeProductId)}, true, ""}}) {
        api.foreignBefore = c.before, api.tarvexAttached = c.attached;
        auto x = ctx();
        EXPECT_EQ(FindTheHid(x).accessDeniedPath, c.noted);
        EXPECT_EQ(state.DeviceFound, c.attached);
    }
    closeHandles();
    expectHandlesBalanced();
}

// A wait tells, once each and without stopping, that the device stays away or came back on an
// interface this account may not open; in the system's own words, never "unplug" meanwhile.
TEST_F(DiscoveryTest, WaitsTellWhatTheUserShouldKnowWithoutStopping) {
    // The form, how long the device is away, and whether it comes back refused until 45 s.
    for (const auto& [form, offBusMs, denied] : {std::tuple{WaitForm::InitialPoll, 45000, false},
                                                 {WaitForm::Plain, 45000, false},
                                                 {WaitForm::Plain, 29900, false},
                                                 {WaitForm::Plain, 0, true}}) {
        auto& faults = api.tarvex().config().faults;
        api.tarvex().config().offBusMs = 250, restartedInto(TarvexMode::Application);
        ASSERT_TRUE(load());
        window.notices.clear();
        const std::int64_t start = clock.nowMs(), refusedFor = denied ? 45000 : 0, away = offBusMs;
        api.tarvex().config().offBusMs = offBusMs, faults.deniedInBootloader = denied;
        api.onSleep = [&](auto now) { faults.deniedInBootloader &= now - start < refusedFor; };
        api.tarvex().restart(start, TarvexMode::Bootloader);
        auto x = ctx();
        EXPECT_EQ(WaitForDevice(x, form, {BootModeProductId}, {}).outcome, WaitOutcome::Found);
        EXPECT_GE(clock.nowMs() - start, away + refusedFor);
        const std::string told = denied ? deniedAccessAdvice(ThisSystem, state.DevicePath, true)
                                 : away >= AbsentNoticeMs ? notBackYetMessage()
                                                          : "";
        EXPECT_EQ(window.notices, std::vector<std::string>(!told.empty(), told));
    }
    for (auto system : {HostSystem::Linux, HostSystem::Windows})
        for (bool running : {false, true}) {
            const std::string text = deniedAccessAdvice(system, "/p", running);
            EXPECT_NE(text.find("(/p)"), std::string::npos);
            EXPECT_EQ(text.find("udev") != std::string::npos, system == HostSystem::Linux);
            EXPECT_EQ(text.find("unplug") != std::string::npos, !running);
        }
    closeHandles();
    expectHandlesBalanced();
}

} // namespace
} // namespace quorvane::test
