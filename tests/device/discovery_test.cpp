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

// A wait polls every 100 ms as its form says, refreshing the labels after each poll of the plain
// loop (cleared while the device is away), until the device is back as required. It tells, once
// each and without stopping, that the device stays away or came back on an interface this
// account may not open; never "unplug" meanwhile.
TEST_F(DiscoveryTest, WaitsFindTheDeviceAndTellWhatTheUserShouldKnowWithoutStopping) {
    struct Row {
        const char* name;
        WaitForm form;
        int leaveDelayMs; // restarting into the bootloader: gone then; -1: no restart
        int offBusMs, refusedMs;
        std::optional<std::uint16_t> required;
        int events; // processed every 100 ms (the poll form: after the first); -1: unchecked
        bool boot;  // found in the bootloader, else in the application
        const char* notice; // a fragment of the one notice, "" for none
    };
    const auto plain = WaitForm::Plain, poll = WaitForm::InitialPoll;
    const auto boot = BootModeProductId, app = AppModeProductId;
    const char* const absent = "The Tarvex has not come back yet. The program goes on waiting";
    const Row rows[] = {
        {"plain", plain, 30, 250, 0, std::nullopt, 3, true, ""},
        {"poll, still there", poll, 150, 250, 0, std::nullopt, 0, false, ""},
        {"poll, gone", poll, 30, 250, 0, std::nullopt, 2, true, ""},
        {"poll, bootloader required", poll, 250, 250, 0, boot, 4, true, ""},
        {"poll, no restart", poll, -1, 250, 0, app, 0, false, ""},
        {"poll, away 45 s", poll, 30, 45000, 0, boot, -1, true, absent},
        {"plain, away 45 s", plain, 30, 45000, 0, boot, -1, true, absent},
        {"plain, away 29.9 s", plain, 30, 29900, 0, boot, -1, true, ""},
        {"plain, refused 45 s", plain, 30, 0, 45000, boot, -1, true,
         "the update goes on as soon as"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TarvexConfig& cfg = api.tarvex().config();
        cfg.offBusMs = 250, restartedInto(TarvexMode::Application);
        ASSERT_TRUE(load());
        window.labelWrites.clear(), window.eventTimes.clear(), window.notices.clear();
        std::vector<std::string> seen;
        window.onEvents = [&] { seen.push_back(window.label(InfoLabel::Product)); };
        const std::int64_t start = clock.nowMs();
        cfg.offBusMs = row.offBusMs, cfg.faults.deniedInBootloader = row.refusedMs > 0;
        api.onSleep = [&](auto now) {
            cfg.faults.deniedInBootloader &= now - start < row.refusedMs;
        };
        if (row.leaveDelayMs >= 0)
            cfg.leaveDelayMs = row.leaveDelayMs,
            api.tarvex().restart(start, TarvexMode::Bootloader);
        auto x = ctx();
        EXPECT_EQ(WaitForDevice(x, row.form, {row.required}, {}).outcome, WaitOutcome::Found);
        EXPECT_GE(clock.nowMs() - start,
                  row.boot ? std::max(row.leaveDelayMs + row.offBusMs, row.refusedMs) : 0);
        std::vector<std::int64_t> events;
        for (int k = 0; k < row.events; ++k)
            events.push_back(start + (k + (row.form == poll)) * DiscoveryPauseMs);
        EXPECT_TRUE(row.events < 0 || window.eventTimes == events);
        EXPECT_EQ(window.label(InfoLabel::Product), row.boot ? "Tarvex Bootloader" : "Tarvex");
        EXPECT_EQ(state.Attributes.ProductID, row.boot ? boot : app);
        EXPECT_EQ(window.labelWrites.empty(), window.eventTimes.empty());
        EXPECT_TRUE(row.form != plain || row.events < 0 ||
                    seen == std::vector<std::string>({"Tarvex", "", ""}));
        EXPECT_EQ(window.notices.size(), *row.notice ? 1U : 0U);
        for (const std::string& n : window.notices)
            EXPECT_NE(n.find(row.notice), std::string::npos) << n;
        EXPECT_EQ(api.openHandles(), 2);
        api.onSleep = nullptr, cfg.leaveDelayMs = 30;
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

} // namespace
} // namespace quorvane::test
