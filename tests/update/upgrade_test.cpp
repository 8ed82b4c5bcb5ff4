#include "firmware_updater.h"

#include "captions.h"
#include "tarvex_protocol.h"
#include "device_info.h"
#include "discovery.h"
#include "tarvex_fixture.h"
#include "temp_dir.h"

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

class UpgradeTest : public TarvexFixture {
protected:
    UpgradeTest() : image(dir.path() / "quorvane.bin"), updater(ctx(), image) {}

    // Writes an image of `records` records and tells the device how many to expect.
    void writeImage(std::size_t records, std::size_t extra = 0) {
        bytes = imageBytes(records * 40 + extra);
        writeFile(image, bytes);
        api.tarvex().config().expectedRecords = static_cast<int>(records);
    }
    // What the window does when it loads.
    void load() {
        auto c = ctx();
        state.DeviceFound = FindTheHid(c);
        ShowDeviceInfo(c);
        api.clearLog();
    }
    void startInBootloader() {
        api.tarvex().config().startMode = TarvexMode::Bootloader;
        api.tarvex().restart(0, TarvexMode::Bootloader);
        clock.advance(1000);
    }
    std::vector<CallRecord> dataReports() const {
        std::vector<CallRecord> out;
        for (const auto& r : calls(CallKind::SetFeature))
            if (r.tarvexMode == TarvexMode::Bootloader && !isUnlock(r) && !isEntry(r))
                out.push_back(r);
        return out;
    }
    static bool isEntry(const CallRecord& r) {
        return r.bytes.size() >= 4 &&
               std::equal(EnterBootloaderCode.begin(), EnterBootloaderCode.end(), &r.bytes[1]);
    }
    static bool isUnlock(const CallRecord& r) {
        return r.bytes.size() >= 9 && std::equal(UnlockCode.begin(), UnlockCode.end(), &r.bytes[1]);
    }
    static bool zeroFrom(const std::vector<std::uint8_t>& b, std::size_t from) {
        return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(from), b.end(),
                           [](std::uint8_t x) { return x == 0; });
    }
    // No status, unlock or data report ever reached the application firmware.
    void expectNothingButEntryToApplication() const {
        for (const auto& r : api.log()) {
            if (r.kind == CallKind::GetFeature) {
                EXPECT_EQ(r.tarvexMode, TarvexMode::Bootloader);
            }
            if (r.kind == CallKind::SetFeature && r.tarvexMode == TarvexMode::Application) {
                EXPECT_TRUE(isEntry(r));
            }
        }
    }
    void expectRecordsDelivered(std::size_t count) const {
        const auto& records = api.tarvex().records();
        ASSERT_EQ(records.size(), count);
        for (std::size_t k = 0; k < count; ++k)
            EXPECT_TRUE(std::equal(records[k].begin(), records[k].end(), bytes.begin() + 40 * k))
                << "record " << k;
    }

    TempDir dir;
    fs::path image;
    std::vector<std::uint8_t> bytes;
    FirmwareUpdater updater;
};

TEST_F(UpgradeTest, WholeUpgradeFromApplicationFirmware) {
    writeImage(50);
    load();
    ASSERT_TRUE(state.DeviceFound);
    updater.upgrade();

    EXPECT_TRUE(window.messages.empty()) << window.messages.front();
    EXPECT_EQ(window.unloads, 1);
    EXPECT_FALSE(window.upgradeEnabled);
    EXPECT_EQ(window.captions,
              (std::vector<std::string>{CaptionSwitching, CaptionUpdating, CaptionFinishing}));
    expectRecordsDelivered(50);
    EXPECT_EQ(api.tarvex().mode(), TarvexMode::Application);
    EXPECT_EQ(api.tarvex().bootloaderEntries(), 1);

    // The bootloader-entry report: report ID, the code, zeros; on the synchronous handle.
    const auto sets = calls(CallKind::SetFeature);
    ASSERT_FALSE(sets.empty());
    EXPECT_TRUE(isEntry(sets.front()));
    EXPECT_EQ(sets.front().bytes.size(), 65U);
    EXPECT_EQ(sets.front().bytes[0], 0);
    EXPECT_TRUE(zeroFrom(sets.front().bytes, 4));
    // Handles closed right after it, and the first poll 100 ms later with no events before it.
    EXPECT_EQ(api.log()[1].kind, CallKind::Close);
    EXPECT_EQ(api.log()[3].kind, CallKind::Sleep);
    EXPECT_EQ(api.log()[3].sleepMs, 100);

    // Every data report: exactly 65 bytes, the record in order, zeros after it, 20 ms apart.
    const auto data = dataReports();
    ASSERT_EQ(data.size(), 50U);
    for (std::size_t k = 0; k < data.size(); ++k) {
        EXPECT_EQ(data[k].bytes.size(), 65U);
        EXPECT_EQ(data[k].bytes[0], 0);
        EXPECT_TRUE(std::equal(bytes.begin() + 40 * k, bytes.begin() + 40 * k + 40,
                               data[k].bytes.begin() + 1));
        EXPECT_TRUE(zeroFrom(data[k].bytes, 41));
        if (k > 0) {
            EXPECT_EQ(data[k].time - data[k - 1].time, 20);
        }
    }
    // The bar: 0 at the start, k/N after the k-th report, full after the last, 0 at the end.
    ASSERT_EQ(window.progressWidths.size(), 52U);
    EXPECT_EQ(window.progressWidths.front(), 0.0F);
    for (int k = 1; k <= 50; ++k)
        EXPECT_FLOAT_EQ(window.progressWidths[k], static_cast<float>(k * 5055.0 / 50.0));
    EXPECT_FLOAT_EQ(window.progressWidths[50], 5055.0F);
    EXPECT_EQ(window.progressWidths.back(), 0.0F);
    EXPECT_TRUE(window.progressVisible);
    EXPECT_EQ(window.repaints, 50);
    expectNothingButEntryToApplication();
    expectHandlesBalanced();
    EXPECT_TRUE(fs::exists(image));
    EXPECT_EQ(fs::file_size(image), 2000U);
}

TEST_F(UpgradeTest, FromBootloaderNoEntryReportAndTheCaptionWaitsForTheTransfer) {
    startInBootloader();
    writeImage(3);
    load();
    updater.upgrade();
    EXPECT_EQ(api.tarvex().bootloaderEntries(), 0);
    EXPECT_EQ(window.captions, (std::vector<std::string>{CaptionUpdating, CaptionFinishing}));
    expectRecordsDelivered(3);
    EXPECT_TRUE(window.messages.empty());
    // The sequence starts by closing both handles and rediscovering the device.
    ASSERT_GE(api.log().size(), 3U);
    EXPECT_EQ(api.log()[0].kind, CallKind::Close);
    EXPECT_EQ(api.log()[1].kind, CallKind::Close);
    expectHandlesBalanced();
}

class ReportLengthTest : public UpgradeTest, public ::testing::WithParamInterface<int> {};

TEST_P(ReportLengthTest, EveryReportIsExactlyTheDeclaredLengthWithZerosAfterItsContent) {
    const auto length = static_cast<std::uint16_t>(GetParam());
    api.tarvex().config().application.featureReportByteLength = length;
    api.tarvex().config().bootloader.featureReportByteLength = length;
    api.tarvex().config().statusBytes = {0, 7};
    writeImage(4);
    load();
    updater.upgrade();
    EXPECT_TRUE(window.messages.empty()) << window.messages.front();
    expectRecordsDelivered(4); // a locked bootloader would have taken none
    std::size_t unlocks = 0;
    for (const auto& r : calls(CallKind::SetFeature)) {
        ASSERT_EQ(r.bytes.size(), length);
        EXPECT_EQ(r.bytes[0], 0);
        if (isUnlock(r)) {
            ++unlocks;
            EXPECT_TRUE(zeroFrom(r.bytes, 9)) << "no remnant of the entry report";
        } else if (isEntry(r)) {
            EXPECT_TRUE(zeroFrom(r.bytes, 4));
        } else {
            EXPECT_TRUE(zeroFrom(r.bytes, 41));
        }
    }
    EXPECT_EQ(unlocks, 1U);
    for (const auto& r : calls(CallKind::GetFeature))
        EXPECT_EQ(r.length, length);
    expectHandlesBalanced();
}

INSTANTIATE_TEST_SUITE_P(Lengths, ReportLengthTest, ::testing::Values(41, 65, 101, 1500));

TEST_F(UpgradeTest, ReportLengthsTooShortAreRefusedWithAMessage) {
    // Too short for the bootloader-entry report: nothing goes out at all.
    api.tarvex().config().application.featureReportByteLength = 3;
    writeImage(2);
    load();
    updater.upgrade();
    EXPECT_TRUE(calls(CallKind::SetFeature).empty());
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("bootloader-entry report (4 bytes)"), std::string::npos);
    EXPECT_EQ(window.unloads, 1);
    expectHandlesBalanced();
}

TEST_F(UpgradeTest, BootloaderReportsTooShortForARecordSendNoRecord) {
    api.tarvex().config().bootloader.featureReportByteLength = 20;
    writeImage(2);
    load();
    updater.upgrade();
    EXPECT_TRUE(dataReports().empty());
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("20 bytes long"), std::string::npos);
    EXPECT_NE(window.messages[0].find("41 bytes"), std::string::npos);
    expectHandlesBalanced();

    // None at all: the status report is refused too.
    window.messages.clear();
    api.tarvex().config().bootloader.featureReportByteLength = 0;
    api.tarvex().config().application.featureReportByteLength = 65;
    api.tarvex().restart(clock.nowMs(), TarvexMode::Application);
    clock.advance(1000);
    FirmwareUpdater again(ctx(), image);
    load();
    again.upgrade();
    EXPECT_TRUE(calls(CallKind::GetFeature).empty());
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("no feature reports"), std::string::npos);
    expectHandlesBalanced();
}

TEST_F(UpgradeTest, StatusBytesDecideTheUnlockReport) {
    struct Case {
        std::array<std::uint8_t, 2> status;
        bool failRead;
        bool unlock;
    };
    for (const Case c : {Case{{0, 1}, false, true}, Case{{1, 0}, false, true},
                         Case{{0, 0}, false, false}, Case{{1, 1}, true, false}}) {
        TempDir d;
        const fs::path img = d.path() / "quorvane.bin";
        writeFile(img, imageBytes(40));
        VirtualClock clk;
        TarvexConfig cfg = testTarvexConfig();
        cfg.startMode = TarvexMode::Bootloader;
        cfg.statusBytes = c.status;
        cfg.faults.failStatus = c.failRead;
        cfg.expectedRecords = 1;
        VirtualPlatform p(clk, cfg);
        RecordingWindow w(p);
        DeviceState s;
        s.FeatureReport[1] = 0x5A; // left from an earlier read
        DeviceContext dc{p, w, s};
        s.DeviceFound = FindTheHid(dc);
        FirmwareUpdater u(dc, img);
        u.upgrade();
        int unlocks = 0;
        bool unlockBeforeData = true;
        bool seenData = false;
        for (const auto& r : p.log()) {
            if (r.kind != CallKind::SetFeature)
                continue;
            if (isUnlock(r)) {
                ++unlocks;
                unlockBeforeData = !seenData;
            } else {
                seenData = true;
            }
        }
        EXPECT_EQ(unlocks, c.unlock ? 1 : 0) << int(c.status[0]) << int(c.status[1]);
        EXPECT_TRUE(unlockBeforeData);
        // A locked bootloader rejects the record when no unlock came.
        EXPECT_EQ(w.messages.empty(), c.unlock || (c.status[0] == 0 && c.status[1] == 0));
    }
}

TEST_F(UpgradeTest, AFailingDataReportStopsTheTransferAndSaysWhich) {
    writeImage(10);
    api.tarvex().config().faults.failDataReport = 3;
    load();
    updater.upgrade();
    expectRecordsDelivered(2);
    EXPECT_EQ(dataReports().size(), 3U); // no retry, nothing after the failure
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("record 3 of 10"), std::string::npos) << window.messages[0];
    EXPECT_EQ(window.caption(), CaptionUpdating);
    EXPECT_EQ(window.progressWidth(), 0.0F);
    EXPECT_TRUE(window.progressVisible);
    EXPECT_EQ(window.unloads, 1);
    EXPECT_TRUE(state.DeviceFound);
    // Nothing after the failed report but the handles closing.
    const auto& log = api.log();
    auto failed = std::find_if(log.begin(), log.end(), [](const CallRecord& r) {
        return r.kind == CallKind::SetFeature && !r.result;
    });
    ASSERT_NE(failed, log.end());
    for (auto it = failed + 1; it != log.end(); ++it)
        EXPECT_EQ(it->kind, CallKind::Close);
    expectHandlesBalanced();
    // The image was closed: it can be replaced at once.
    fs::remove(image);
    EXPECT_FALSE(fs::exists(image));
}

TEST_F(UpgradeTest, DeviceVanishingMidTransfer) {
    writeImage(10);
    api.tarvex().config().faults.vanishAfterDataReports = 4;
    load();
    updater.upgrade();
    expectRecordsDelivered(4);
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("record 5 of 10"), std::string::npos);
    expectHandlesBalanced();
}

TEST_F(UpgradeTest, DeviceComingBackInItsBootloaderIsGivenTenSecondsThenTold) {
    writeImage(5);
    api.tarvex().config().faults.restartInto = TarvexMode::Bootloader;
    load();
    updater.upgrade();
    expectRecordsDelivered(5);
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("did not restart into its application firmware"),
              std::string::npos);
    const auto last = calls(CallKind::Enumerate).back().time;
    const auto firstData = dataReports().front().time;
    EXPECT_GE(last - firstData, WrongModeLimitMs);
    EXPECT_LE(last - firstData, WrongModeLimitMs + 2000);
    EXPECT_EQ(window.unloads, 1);
    expectHandlesBalanced();
}

TEST_F(UpgradeTest, FirstPollStillFindingTheApplicationDoesNotSendItFirmware) {
    writeImage(3);
    api.tarvex().config().leaveDelayMs = 450; // still on the bus for four polls
    load();
    updater.upgrade();
    EXPECT_TRUE(window.messages.empty()) << window.messages.front();
    expectRecordsDelivered(3);
    expectNothingButEntryToApplication();
    expectHandlesBalanced();
}

TEST_F(UpgradeTest, DeviceThatNeverEntersItsBootloader) {
    writeImage(3);
    api.tarvex().config().faults.stayAfterBootloaderEntry = true;
    load();
    updater.upgrade();
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_EQ(window.messages[0], MessageNoBootloader);
    EXPECT_TRUE(api.tarvex().records().empty());
    expectNothingButEntryToApplication();
    EXPECT_EQ(window.unloads, 1);
    expectHandlesBalanced();
}

TEST_F(UpgradeTest, ClicksDuringACommandAreIgnored) {
    writeImage(6);
    load();
    int events = 0;
    window.onEvents = [&] {
        ++events;
        updater.upgrade();
        updater.forceBootloader();
    };
    updater.upgrade();
    EXPECT_GT(events, 6);
    EXPECT_EQ(api.tarvex().bootloaderEntries(), 1);
    expectRecordsDelivered(6);
    EXPECT_EQ(window.unloads, 1);
    EXPECT_TRUE(window.messages.empty());
    expectHandlesBalanced();
}

TEST_F(UpgradeTest, ClosingTheWindowStopsTheUpgradeWhereverItWaits) {
    struct Case {
        const char* where;
        int closeAtEvent;
        TarvexMode start;
        int offBusMs;
        bool neverReturn;
    };
    // Events: two in the bootloader waits, then one per record, then the last wait's.
    for (const Case c : {Case{"bootloader wait", 1, TarvexMode::Application, 5000, false},
                         Case{"rediscovery wait", 1, TarvexMode::Bootloader, 250, false},
                         Case{"transfer", 6, TarvexMode::Application, 250, false},
                         Case{"final wait", 12, TarvexMode::Application, 250, true}}) {
        SCOPED_TRACE(c.where);
        TempDir d;
        const fs::path img = d.path() / "quorvane.bin";
        writeFile(img, imageBytes(std::size_t{8} * 40));
        VirtualClock clk;
        TarvexConfig cfg = testTarvexConfig();
        cfg.expectedRecords = 8;
        cfg.offBusMs = c.offBusMs;
        cfg.startMode = c.start;
        cfg.faults.neverReturn = c.neverReturn;
        VirtualPlatform p(clk, cfg);
        RecordingWindow w(p);
        DeviceState s;
        s.ProgressFullWidth = 5055;
        DeviceContext dc{p, w, s};
        s.DeviceFound = FindTheHid(dc);
        ASSERT_TRUE(s.DeviceFound);
        if (c.start == TarvexMode::Bootloader) // leaves the bus for good right after load
            p.tarvex().restart(clk.nowMs(), TarvexMode::Bootloader, false);
        FirmwareUpdater u(dc, img);
        int events = 0;
        std::size_t logAtClose = 0;
        w.onEvents = [&] {
            if (++events == c.closeAtEvent) {
                w.closing = true;
                logAtClose = p.log().size();
            }
        };
        u.upgrade();
        ASSERT_EQ(events, c.closeAtEvent);
        // After the close: no report, discovery or pause; only handles closing.
        for (std::size_t i = logAtClose; i < p.log().size(); ++i)
            EXPECT_EQ(p.log()[i].kind, CallKind::Close) << i;
        EXPECT_TRUE(w.messages.empty());
        EXPECT_EQ(w.unloads, 1);
        EXPECT_EQ(p.openHandles(), 0);
        EXPECT_TRUE(p.misuse().empty());
        if (std::string(c.where) == "transfer") {
            EXPECT_EQ(p.tarvex().records().size(), 3U);
        }
        fs::remove(img); // not held open
    }
}

TEST_F(UpgradeTest, ImageProblemsAreToldBeforeTheDeviceIsTouched) {
    load();
    auto expectRefused = [&](const char* fragment) {
        window.messages.clear();
        api.clearLog();
        updater.upgrade();
        ASSERT_EQ(window.messages.size(), 1U) << fragment;
        EXPECT_NE(window.messages[0].find(fragment), std::string::npos) << window.messages[0];
        EXPECT_TRUE(api.log().empty());
        EXPECT_TRUE(window.upgradeEnabled);
        EXPECT_TRUE(window.captions.empty());
        EXPECT_EQ(window.unloads, 0);
        EXPECT_FALSE(updater.busy());
    };
    expectRefused("is missing");
    EXPECT_FALSE(fs::exists(image)); // not created
    writeImage(0);
    expectRefused("is empty");
    writeImage(1, 39);
    expectRefused("79 bytes");
    writeImage(32767);
    expectRefused("too large");
    fs::remove(image);
    fs::create_directory(image);
    expectRefused("is not a file");
    EXPECT_EQ(api.openHandles(), 2); // still open on the device, ready for another try
}

TEST_F(UpgradeTest, ImageChangedAfterTheCheckIsCaughtBeforeAnyRecordGoesOut) {
    startInBootloader();
    writeImage(4);
    load();
    bool changed = false;
    api.onSleep = [&](std::int64_t) {
        if (!changed) {
            changed = true;
            writeFile(image, imageBytes(4 * 40 + 3));
        }
    };
    updater.upgrade();
    EXPECT_TRUE(dataReports().empty());
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("163 bytes"), std::string::npos) << window.messages[0];
    expectHandlesBalanced();
}

TEST_F(UpgradeTest, NoDeviceMeansNeitherButtonDoesAnything) {
    api.tarvexAttached = false;
    writeImage(2);
    load();
    updater.upgrade();
    updater.forceBootloader();
    EXPECT_TRUE(api.log().empty());
    EXPECT_TRUE(window.upgradeEnabled);
    EXPECT_TRUE(window.captions.empty());
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(window.unloads, 0);
}

TEST_F(UpgradeTest, ForceBootloaderModeFromEitherMode) {
    load();
    updater.forceBootloader();
    EXPECT_EQ(api.tarvex().bootloaderEntries(), 1);
    EXPECT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.Attributes.ProductID, BootModeProductId);
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex Bootloader"); // refreshed by the loop
    EXPECT_EQ(api.openHandles(), 2);
    EXPECT_TRUE(window.captions.empty());
    EXPECT_TRUE(window.upgradeEnabled);
    EXPECT_EQ(window.unloads, 0);
    EXPECT_TRUE(window.messages.empty());

    // Already in the bootloader: the entry report still goes out.
    api.clearLog();
    updater.forceBootloader();
    EXPECT_EQ(api.tarvex().bootloaderEntries(), 2);
    const auto sets = calls(CallKind::SetFeature);
    ASSERT_EQ(sets.size(), 1U);
    EXPECT_TRUE(isEntry(sets[0]));
    EXPECT_EQ(sets[0].tarvexMode, TarvexMode::Bootloader);
    EXPECT_EQ(state.Attributes.ProductID, BootModeProductId);
    EXPECT_EQ(api.openHandles(), 2);

    // A device that ignores it is told about after ten seconds; the window stays.
    api.tarvex().restart(clock.nowMs(), TarvexMode::Application);
    clock.advance(1000);
    closeDeviceHandles(*std::make_unique<DeviceContext>(ctx()));
    load();
    api.tarvex().config().faults.stayAfterBootloaderEntry = true;
    updater.forceBootloader();
    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_EQ(window.messages[0], MessageNoBootloader);
    EXPECT_EQ(window.unloads, 0);
    EXPECT_EQ(api.openHandles(), 2);
    closeDeviceHandles(*std::make_unique<DeviceContext>(ctx()));
    expectHandlesBalanced();
}

} // namespace
} // namespace quorvane::test
