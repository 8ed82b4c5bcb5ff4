// One update session against the virtual Tarvex: its units, interrupts, waits and their faults.
#include "captions.h"
#include "discovery_messages.h"
#include "firmware_updater.h"
#include "image_fixture.h"
#include "unit_choice.h"

#include <cstring>
#include <functional>

namespace quorvane::test {
namespace {

class SessionTest : public ImageFixture {
public:
    using TarvexFixture::api, TarvexFixture::window;
    SessionTest() { api.foreignAfter.reserve(4); } // handles point into it
    // A Tarvex as new, alone, a second after the last row's, and a window that was told nothing.
    void fresh() {
        TarvexConfig config = defaultTarvexConfig();
        config.expectedRecords = Records;
        api.tarvex() = VirtualTarvex(config);
        clock.advance(1000);
        api.foreignBefore.clear(), api.foreignAfter.clear(), api.onSleep = nullptr;
        window.messages.clear(), window.notices.clear(), window.closing = false, window.unloads = 0;
    }
    // The upgrade (or Force Bootloader Mode) from the device as loaded; its history line.
    UpdateRecord run(bool upgrade = true, const CommandTarget& target = {}) {
        EXPECT_TRUE(load());
        FirmwareUpdater updater(ctx(), image, services);
        upgrade ? updater.upgrade(target) : updater.forceBootloader(target);
        closeHandles();
        expectHandlesBalanced();
        const auto lines = history.read();
        return lines.empty() ? UpdateRecord{} : lines.back();
    }

    HistoryFile history{dir.path() / "history.jsonl"};
    UnitLocks locks{dir.path()};
    CommandServices services{nullptr, &history, "window", nullptr, &locks};
};

// Another Tarvex-like unit plugged in during the update: never sent a byte, never opened where
// the listing tells it apart (a serial number the Tarvex's included), and the update completes
// and says it was there.
TEST_F(SessionTest, AUnitArrivingDuringTheUpdateIsNeverTouched) {
    enum When { EnteringBootloader, MidTransfer, Restarting };
    struct Row {
        const char* name;
        When when;
        std::uint16_t product;
        const char16_t* serial;
        bool placeKnown; // false: the platform tells no place, the serial number tells them apart
    };
    const Row rows[] = {
        {"boot, same serial, entering", EnteringBootloader, BootModeProductId, u"TX-000417", true},
        {"app, other serial, entering", EnteringBootloader, AppModeProductId, u"TX-2", true},
        {"boot, same serial, mid-transfer", MidTransfer, BootModeProductId, u"TX-000417", true},
        {"app, same serial, restarting", Restarting, AppModeProductId, u"TX-000417", true},
        {"boot, no serial, restarting", Restarting, BootModeProductId, u"", true},
        {"no place, boot, other serial, entering", EnteringBootloader, BootModeProductId, u"TX-2",
         false},
        {"no place, app, other serial, restarting", Restarting, AppModeProductId, u"TX-2", false},
    };
    for (const Row& row : rows)
        for (bool chosen : {false, true}) { // as the command line's --serial chooses it
            SCOPED_TRACE(std::string(row.name) + (chosen ? ", chosen by serial" : ""));
            fresh();
            api.tarvexUnitIsPlace = row.placeKnown;
            ForeignInterface newcomer = foreign("newcomer", 0x1D50, row.product);
            newcomer.serialNumber = row.serial, newcomer.unitIsPlace = row.placeKnown;
            api.onSleep = [&](std::int64_t) {
                const VirtualTarvex& t = api.tarvex();
                const bool due = row.when == MidTransfer ? t.recordsReceived() == 10
                                 : row.when == Restarting
                                     ? !t.present() && t.recordsReceived() == int(Records)
                                     : !t.present() && t.recordsReceived() == 0;
                if (due && api.foreignAfter.empty())
                    api.foreignAfter.push_back(newcomer);
            };
            const UpdateRecord r =
                run(true, chosen ? CommandTarget{true, "TX-000417", ""} : CommandTarget{});
            ASSERT_EQ(api.foreignAfter.size(), 1U) << "the newcomer never came";
            expectDelivered(Records);
            for (const CallRecord& c : api.log()) {
                EXPECT_FALSE(isReport(c) && !c.tarvex) << "a report to " << c.path;
                EXPECT_FALSE(row.placeKnown && c.kind == CallKind::Open && c.path == "newcomer");
                EXPECT_FALSE(row.placeKnown && c.kind == CallKind::GetAttributes &&
                             c.path == "newcomer");
            }
            EXPECT_EQ(r.outcome, "completed");
            EXPECT_EQ(r.otherUnits,
                      std::vector<std::string>{row.product == AppModeProductId ? "1d50:2211"
                                                                               : "1d50:b046"});
            ASSERT_EQ(window.messages.size(), 1U);
            EXPECT_NE(window.messages[0].find("was not touched"), std::string::npos);
        }
}

// An interrupt is honoured before the next report, and the outcome tells where it left the
// Tarvex; every record accepted stays a completed update.
TEST_F(SessionTest, AnInterruptStopsBeforeTheNextReportAndSaysWhereItLeftTheTarvex) {
    struct Row {
        const char* name;
        bool upgrade;
        std::function<bool(const VirtualTarvex&)> when; // checked at every pause
        const char* outcome;
        const char* message;
    };
    const Row rows[] = {
        {"before anything", true, [](const VirtualTarvex&) { return true; }, "stopped",
         "Interrupted before anything was sent to the Tarvex."},
        {"switching, Force Bootloader Mode", false,
         [](const VirtualTarvex& t) { return !t.present(); }, "stopped",
         "Interrupted while the Tarvex switched to its bootloader. The Tarvex may be in its "
         "bootloader now."},
        {"in the transfer", true, [](const VirtualTarvex& t) { return t.recordsReceived() == 3; },
         "stopped",
         "Interrupted after 3 of 50 records; no further record was sent. The Tarvex is in its "
         "bootloader with 3 of 50 records: unplug it and plug it in again, then start quorvane and "
         "press Upgrade Firmware."},
        {"after the last record", true,
         [](const VirtualTarvex& t) { return t.recordsReceived() == int(Records); }, "completed",
         "Interrupted while the Tarvex restarts into its new firmware: all 50 records were "
         "accepted."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fresh();
        std::size_t stoppedAt = SIZE_MAX;
        api.onSleep = [&](std::int64_t) {
            if (!window.closing && row.when(api.tarvex()))
                window.closing = true, stoppedAt = api.log().size();
        };
        if (std::string(row.name) == "before anything")
            window.closing = true, stoppedAt = 0;
        const UpdateRecord r = run(row.upgrade);
        ASSERT_NE(stoppedAt, SIZE_MAX) << "never interrupted";
        std::size_t looks = 0; // an interrupt is seen at the next poll at the latest
        for (std::size_t k = stoppedAt; k < api.log().size(); ++k) {
            EXPECT_FALSE(isReport(api.log()[k])) << "call " << k << " after the interrupt";
            looks += api.log()[k].kind == CallKind::Enumerate;
        }
        EXPECT_LE(looks, 1U);
        EXPECT_EQ(r.outcome, row.outcome);
        EXPECT_EQ(r.message, row.message);
        EXPECT_TRUE(window.messages.empty()); // a closed window tells nothing more
    }
}

// After the last record the bootloader may go on writing its flash: the window waits as long
// as it takes and says, once, after 30 s, not to unplug it.
TEST_F(SessionTest, ABootloaderThatTakesItsTimeIsWaitedFor) {
    for (const int stayMs : {5000, 45000}) {
        SCOPED_TRACE(stayMs);
        fresh();
        api.tarvex().config().faults.restartInto = TarvexMode::Bootloader;
        std::optional<std::int64_t> lastRecordAt;
        api.onSleep = [&](std::int64_t now) {
            VirtualTarvex& t = api.tarvex();
            if (t.recordsReceived() == int(Records) && !lastRecordAt)
                lastRecordAt = now;
            if (lastRecordAt && now - *lastRecordAt >= stayMs &&
                t.mode() == TarvexMode::Bootloader && t.present())
                t.config().faults.restartInto.reset(), t.restart(now, TarvexMode::Application);
        };
        const UpdateRecord r = run();
        expectDelivered(Records);
        EXPECT_EQ(r.outcome, "completed");
        EXPECT_EQ(r.message, "");
        EXPECT_EQ(window.notices, std::vector<std::string>(stayMs > 30000, StillFinishingMessage));
        EXPECT_EQ(window.unloads, 1);
        EXPECT_EQ(api.tarvex().mode(), TarvexMode::Application);
    }
}

// Faults of units and waits, each ending as it should, none sending a byte to another unit and
// no wait without end.
TEST_F(SessionTest, EachUnitAndWaitFaultEndsAsItShould) {
    using Setup = std::function<void(SessionTest&, std::int64_t now, std::int64_t & mark)>;
    struct Row {
        const char* name;
        bool placeKnown;
        std::optional<std::int64_t> limitMs; // the command line's --wait-limit; none: the window
        std::function<void(TarvexConfig&)> config;
        Setup atSleep; // at every pause; `mark` starts at -1
        const char* outcome;
        std::size_t delivered;
        const char* message;
    };
    // A twin of the bootloader that answers to the same serial number, once the entry went out.
    const Setup twin = [](SessionTest& s, std::int64_t, std::int64_t& mark) {
        if (s.api.tarvex().bootloaderEntries() > 0 && mark < 0) {
            ForeignInterface twin = foreign("twin", 0x1D50, BootModeProductId);
            twin.serialNumber = u"TX-000417", twin.unitIsPlace = false;
            s.api.foreignBefore = {twin}, mark = 0;
        }
    };
    // The serial query fails for 600 ms from when the Tarvex leaves the bus.
    const Setup noSerial = [](SessionTest& s, std::int64_t now, std::int64_t& mark) {
        if (!s.api.tarvex().present() && mark < 0)
            mark = now, s.api.tarvex().config().faults.failSerialNumber = true;
        if (mark >= 0 && now - mark > 600)
            s.api.tarvex().config().faults.failSerialNumber = false;
    };
    // Back in the application every 3 s once the entry went out.
    const Setup every3s = [](SessionTest& s, std::int64_t now, std::int64_t& mark) {
        if (s.api.tarvex().bootloaderEntries() > 0 && (mark < 0 || now - mark >= 3000))
            mark = now, s.api.tarvex().restart(now, TarvexMode::Application);
    };
    // Back in the application twice for 8 s after the entry, leaving the bus between: 16 s in the
    // wrong mode, never 10 s at a stretch. It is judged afresh each time it leaves the bus.
    const Setup twice8s = [](SessionTest& s, std::int64_t now, std::int64_t& mark) {
        mark = mark < 0 && s.api.tarvex().bootloaderEntries() == 1 ? now : mark;
        for (const auto& [at, mode] : {std::pair{500, TarvexMode::Application},
                                       {8500, TarvexMode::Application},
                                       {16500, TarvexMode::Bootloader}})
            if (mark >= 0 && now - mark >= at && now - mark < at + DiscoveryPauseMs)
                s.api.tarvex().restart(now, mode);
    };
    using Config = std::function<void(TarvexConfig&)>;
    const Config backAtOnce = [](TarvexConfig& c) { c.offBusMs = 0; }; // both answer at one poll
    const Config stays = [](TarvexConfig& c) { c.faults.stayAfterBootloaderEntry = true; };
    const Row rows[] = {
        {"no place, a unit with the same serial arrives during the restart", false, std::nullopt,
         backAtOnce, twin, "failed", 0,
         "Two units answer to the serial number TX-000417 (1d50:b046 \"Other Device\", 1d50:b046 "
         "\"Tarvex Bootloader\"), and this system does not tell where each is plugged, so they "
         "cannot be told apart; nothing more was sent. Leave only the Tarvex being updated "
         "connected. No firmware was sent; the Tarvex may be in its bootloader now. To update it, "
         "start quorvane and press Upgrade Firmware."},
        {"no place, the serial query fails as the bootloader enumerates", false, std::nullopt,
         nullptr, noSerial, "completed", Records, ""},
        {"no place, the bootloader names no serial number", false, std::nullopt,
         [](TarvexConfig& c) { c.bootloader.serialNumber.clear(); }, nullptr, "completed", Records,
         ""},
        {"another serial number comes back in the Tarvex's port", true, 5000,
         [](TarvexConfig& c) { c.bootloader.serialNumber = u"TX-999999"; }, nullptr, "failed", 0,
         "The Tarvex did not come back within 5 seconds. Unplug it and plug it in again: the "
         "update can be run again from its bootloader. Another Tarvex was connected meanwhile "
         "and was not touched (1d50:b046 \"Tarvex Bootloader\")."},
        {"the application restarts into itself every 3 s, limit 5 s", true, 5000, stays, every3s,
         "failed", 0, "The device did not switch to its bootloader."},
        {"the same without a limit", true, std::nullopt, stays, every3s, "failed", 0,
         "The device did not switch to its bootloader."},
        {"back in the application twice for 8 s", true, std::nullopt, stays, twice8s, "completed",
         Records, ""},
        {"the bootloader restarts into itself after the last record, limit 5 s", true, 5000,
         [](TarvexConfig& c) { c.faults.restartInto = TarvexMode::Bootloader; }, nullptr, "failed",
         Records,
         "All 50 records were accepted. The device did not restart into its application "
         "firmware after the update."},
        {"reports of 40 bytes", true, std::nullopt,
         [](TarvexConfig& c) {
             c.application.featureReportByteLength = c.bootloader.featureReportByteLength = 40;
         },
         nullptr, "failed", 0,
         "The device's reports are 40 bytes long, too short for the firmware report (41 bytes). "
         "The Tarvex is in its bootloader with 0 of 50 records: unplug it and plug it in again, "
         "then start quorvane and press Upgrade Firmware."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fresh();
        api.tarvexUnitIsPlace = row.placeKnown;
        if (row.config)
            row.config(api.tarvex().config());
        services.waits.absentLimitMs = row.limitMs;
        std::int64_t mark = -1;
        api.onSleep = [&](std::int64_t now) {
            if (row.atSleep)
                row.atSleep(*this, now, mark);
        };
        const std::int64_t start = clock.nowMs();
        const UpdateRecord r = run();
        expectDelivered(row.delivered);
        for (const CallRecord& c : api.log())
            EXPECT_FALSE(isReport(c) && !c.tarvex) << "a report to " << c.path;
        EXPECT_EQ(r.outcome, row.outcome);
        EXPECT_EQ(r.message, row.message);
        EXPECT_LT(clock.nowMs() - start, 70000); // never a wait without end
    }
}

// Two programs on one unit: the second meets the first's lock, sends nothing and says so; the
// first writes its whole image, undisturbed.
TEST_F(SessionTest, ASecondProgramOnTheSameUnitSendsNothing) {
    DeviceState otherState;
    RecordingWindow otherWindow(api);
    std::optional<UpdateRecord> second;
    api.onSleep = [&](std::int64_t) {
        if (second || api.tarvex().recordsReceived() != 20)
            return;
        second = UpdateRecord{};
        DeviceContext other{api, otherWindow, otherState};
        FindAndShowDevice(other);
        FirmwareUpdater updater(other, image, {nullptr, nullptr, "cli", &*second, &locks});
        const std::size_t before = api.log().size();
        updater.upgrade();
        otherState.closeHandles();
        for (std::size_t k = before; k < api.log().size(); ++k)
            EXPECT_FALSE(isReport(api.log()[k])) << "the second program sent a report";
    };
    const UpdateRecord first = run();
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->outcome, "failed");
    EXPECT_EQ(second->message, MessageUnitBusy);
    EXPECT_EQ(first.outcome, "completed");
    expectDelivered(Records);
}

} // namespace
} // namespace quorvane::test
