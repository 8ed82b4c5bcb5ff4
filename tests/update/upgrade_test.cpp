// Both commands against the virtual Tarvex, asserted at the wire: every report byte for byte.
#include "captions.h"
#include "discovery_messages.h"
#include "firmware_image.h"
#include "firmware_updater.h"
#include "forwarding_platform.h"
#include "image_fixture.h"
#include "sha256.h"

#include <cstring>
#include <stdexcept>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A report as the device must get it: report ID 0, the content, zeros up to the length.
template <class Content> Bytes report(std::size_t length, const Content& content) {
    Bytes b(length, 0);
    std::copy_n(content.begin(), std::min(content.size(), length - 1), b.begin() + 1);
    return b;
}

// Counts the holds and releases of the command's sleep inhibitor.
struct CountingInhibitor final : SleepInhibitor {
    bool hold() override { return ++holds > 0; }
    void release() override { ++releases; }
    int holds = 0, releases = 0;
};

class UpgradeTest : public ImageFixture {
public:
    using TarvexFixture::api, TarvexFixture::restartedInto, TarvexFixture::window;
    UpgradeTest() : updater(ctx(), image, {&inhibitor, &history, "window"}) {
        state.FeatureReport[1] = 0x5A; // left from an earlier status read
    }

    CountingInhibitor inhibitor;
    HistoryFile history{dir.path() / "state" / "history.jsonl"};
    FirmwareUpdater updater;
};

using U = UpgradeTest;
using C = TarvexConfig;
using F = TarvexFaults;
using Setup = void (*)(U&, C&);
struct Flow {
    const char* name;
    const char* wire;      // E entry, S status (s: refused, the buffer as it was), U unlock
    std::size_t sent;      // data reports after them
    std::size_t delivered; // records the device took
    const char* captions;  // S switching, U updating, F finishing
    const char* message;   // a fragment of the one message told, "" for none
    Setup setup;
    bool force = false; // Force Bootloader Mode instead
};
Flow done(const char* name, const char* wire, Setup setup, const char* message = "") {
    return {name, wire, Records, Records, "SUF", message, setup};
}
Flow refused(const char* name, const char* wire, const char* message, Setup setup) {
    return {name, wire, 0, 0, "S", message, setup};
}
template <std::uint16_t App, std::uint16_t Boot> void lengths(U&, C& c) {
    c.application.featureReportByteLength = App, c.bootloader.featureReportByteLength = Boot;
    c.statusBytes = {0, 7};
}
template <bool F::*Fault> void fault(U&, C& c) {
    c.faults.*Fault = true;
}
class UpgradeFlow : public UpgradeTest, public ::testing::WithParamInterface<Flow> {};

TEST_P(UpgradeFlow, ReachesTheDeviceAndTheWindowAsItShould) {
    const Flow& f = GetParam();
    state.Capabilities = HidCapabilities{99}; // read before: a failed read must clear it
    f.setup(*this, api.tarvex().config());
    ASSERT_TRUE(load());
    const std::string shown =
        state.Attributes.ProductID == AppModeProductId ? "application" : "bootloader";
    f.force ? updater.forceBootloader() : updater.upgrade();
    // Every report in order, each data report the device took followed by the pause, a
    // rejected one by nothing but closing the handles.
    const TarvexConfig& cfg = api.tarvex().config();
    const std::size_t boot = cfg.bootloader.featureReportByteLength;
    std::vector<Bytes> want, got;
    for (const char* c = f.wire; *c; ++c)
        want.push_back(*c == 'E'
                           ? report(cfg.application.featureReportByteLength, EnterBootloaderCode)
                       : *c == 'S' ? report(boot, cfg.statusBytes)
                       : *c == 's' ? report(boot, Bytes{0x5A})
                                   : report(boot, UnlockCode));
    for (std::size_t k = 0; k < f.sent; ++k)
        want.push_back(report(boot, Bytes(&bytes[k * RecordSize], &bytes[(k + 1) * RecordSize])));
    const auto& log = api.log();
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (!isReport(log[i]))
            continue;
        got.push_back(log[i].bytes);
        EXPECT_TRUE(got.size() <= std::strlen(f.wire) || !log[i].result ||
                    log.at(i + 1).sleepMs == RecordPauseMs);
        for (std::size_t j = i + 1;
             log[i].kind == CallKind::SetFeature && !log[i].result && j < log.size(); ++j)
            EXPECT_EQ(log[j].kind, CallKind::Close) << "after the rejected report";
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(api.tarvex().records().size(), f.delivered);
    std::string captions;
    for (const auto& c : window.captions)
        captions += c == CaptionSwitching ? 'S' : c == CaptionUpdating ? 'U' : 'F';
    EXPECT_EQ(captions, f.captions);
    EXPECT_EQ(window.messages.size(), *f.message ? 1U : 0U);
    EXPECT_TRUE(window.notices.empty()); // no wait here is long, no interface refused
    EXPECT_TRUE(window.questions.empty());
    for (const auto& m : window.messages)
        EXPECT_NE(m.find(f.message), std::string::npos) << m;
    // The bar: 0, then k/N of the full width and of 100 % after the k-th record, 0 at the end.
    const auto& widths = window.progressWidths;
    EXPECT_EQ(widths.size(), f.sent == 0 ? widths.size() : f.delivered + 2U);
    for (std::size_t k = 0, n = 0; k < widths.size(); n = ++k <= f.delivered ? k : 0) {
        EXPECT_FLOAT_EQ(widths[k], static_cast<float>(n * 5055.0 / Records)) << k;
        EXPECT_DOUBLE_EQ(window.progressPercents[k], 100.0 * n / Records) << k;
    }
    EXPECT_EQ(window.repaints, f.delivered);
    // The first poll after the entry: 100 ms later, no events before it.
    const std::int64_t entry = f.wire[0] == 'E' ? calls(CallKind::SetFeature)[0].time : -1;
    EXPECT_TRUE(entry < 0 || (calls(CallKind::Enumerate)[1].time == entry + DiscoveryPauseMs &&
                              (window.eventTimes.empty() || window.eventTimes[0] > entry)));
    // Told when the device ignores the entry: 10 s after it was first seen again.
    EXPECT_TRUE(f.message != MessageNoBootloader ||
                clock.nowMs() - entry == DiscoveryPauseMs + 10000);
    // Refused before its first report, or after Force Bootloader Mode: open for another try.
    const bool ends = !f.force && *f.wire != 0;
    EXPECT_EQ(window.unloads, ends ? 1 : 0);
    EXPECT_EQ(window.upgradeEnabled, !ends);
    EXPECT_EQ(api.openHandles(), ends ? 0 : 2);
    closeHandles();
    expectHandlesBalanced();
    // Sleep held off from the unit pinned on, and the command's one line in the history.
    const bool pinned = updater.lastSession()->failureKind() != FailureKind::Units;
    EXPECT_EQ(inhibitor.holds, pinned ? 1 : 0);
    EXPECT_EQ(inhibitor.releases, inhibitor.holds);
    const auto lines = history.read();
    ASSERT_EQ(lines.size(), 1U);
    const UpdateRecord& r = lines[0];
    // Every record accepted is a completed update, whatever came after.
    EXPECT_EQ(r.outcome, (f.force ? !*f.message : f.delivered == Records) ? "completed" : "failed");
    EXPECT_EQ(r.message, window.messages.empty() ? "" : window.messages[0].c_str());
    EXPECT_EQ(r.recordsSent, std::int64_t(f.delivered));
    EXPECT_EQ(r.recordsTotal, f.force ? 0 : std::int64_t(Records));
    ASSERT_EQ(r.image.has_value(), !f.force);
    EXPECT_TRUE(f.force || r.image->sha256 == sha256Hex(bytes.data(), bytes.size()));
    EXPECT_TRUE(f.force || r.image->size == bytes.size());
    EXPECT_EQ(r.deviceBefore->mode, shown);
    EXPECT_EQ(r.deviceAfter.has_value(), state.DeviceFound);
    EXPECT_TRUE(!f.force || r.deviceAfter->mode == (*f.message ? "application" : "bootloader"));
    EXPECT_EQ(r.sleepHeldOff, pinned);
    EXPECT_EQ(r.command, f.force ? "bootloader" : "upgrade");
    EXPECT_TRUE(r.program == "window" && !r.started.empty() && r.started <= r.ended);
    fs::remove(image); // not held open
}

const Flow flows[] = {
    done("FromApplication", "ES", [](U&, C&) {}),
    {"FromBootloader", "S", Records, Records, "UF", "",
     [](U& t, C&) { t.restartedInto(TarvexMode::Bootloader); }},
    done("StillApplicationAtFirstPoll", "ES", [](U&, C& c) { c.leaveDelayMs = 450; }),
    done("StatusAsksUnlock", "ESU", [](U&, C& c) { c.statusBytes[0] = 1; }), // {1, 0}
    {"StatusFails", "Es", 1, 0, "SU", "; the update is incomplete. Its status report",
     [](U&, C& c) { c.statusBytes.fill(1), c.faults.failStatus = true; }},
    done("Length41", "ESU", lengths<41, 41>),
    done("LengthAtTheLimit", "ESU", lengths<16384, 16384>),
    done("EntryFitsIn4", "ESU", lengths<4, 65>),
    refused("EntryTooShort", "", "bootloader-entry report (4 bytes)", lengths<3, 65>),
    refused("StatusTooShort", "E", "status report (3 bytes)", lengths<65, 2>),
    refused("UnlockTooShort", "ES", "8 bytes long, too short for the unlock report (9 bytes)",
            lengths<65, 8>),
    refused("DataTooShort", "ESU", "firmware report (41 bytes)", lengths<65, 40>),
    refused("BeyondTheLimit", "E", "16385 bytes long, longer than this system can carry (16384",
            lengths<65, 16385>),
    refused("NoReports", "E", "declares no feature reports", lengths<65, 0>),
    refused("CapabilitiesFail", "", "report length could not be read", fault<&F::failCapabilities>),
    refused("NoAnswerOnStrings", "ES", "did not answer", fault<&F::failManufacturer>),
    refused("NoOverlappedHandle", "ES", "did not answer", fault<&F::failOverlappedOpen>),
    {"ThirdRecordRejected", "ES", 3, 2, "SU", "record 3 of 50",
     [](U&, C& c) { c.faults.failDataReport = 3; }},
    {"VanishesMidTransfer", "ES", 5, 4, "SU", "left the bus after 4 of 50 firmware records",
     [](U&, C& c) { c.faults.vanishAfterDataReports = 4; }},
    refused("NeverEntersBootloader", "E", MessageNoBootloader, fault<&F::stayAfterBootloaderEntry>),
    // Another unit, or another maker's interface with the bootloader's ID: nothing reaches any.
    {"SecondUnitBehind", "", 0, 0, "", "(1d50:2211 \"Tarvex\", 0002:b046 \"Other Device\")",
     [](U& t, C&) { t.api.foreignAfter = {foreign("b", 2, BootModeProductId)}; }},
    {"SecondUnitBefore", "", 0, 0, "", "(0002:b046 \"Other Device\", 1d50:2211 \"Tarvex\")",
     [](U& t, C&) { t.api.foreignBefore = {foreign("b", 2, BootModeProductId)}; }},
    done("DeniedSibling", "ES",
         [](U& t, C&) {
             t.api.foreignBefore = {foreign("col2", 0x1D50, AppModeProductId, false, TarvexUnit)};
         }),
    // Force Bootloader Mode from either mode, and a device that ignores it.
    {"ForceFromApplication", "E", 0, 0, "", "", [](U&, C&) {}, true},
    {"ForceFromBootloader", "E", 0, 0, "", "",
     [](U& t, C&) { t.restartedInto(TarvexMode::Bootloader); }, true},
    {"ForceIgnored", "E", 0, 0, "", MessageNoBootloader, fault<&F::stayAfterBootloaderEntry>, true},
};
INSTANTIATE_TEST_SUITE_P(Flows, UpgradeFlow, ::testing::ValuesIn(flows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeTest, WithoutADeviceOrWithABadImageNothingIsTouched) {
    // No device: each click looks once more, says so and sends nothing.
    api.tarvex().config().faults.failOpen = true;
    EXPECT_FALSE(load());
    updater.upgrade(), updater.forceBootloader();
    EXPECT_EQ(calls(CallKind::Enumerate).size(), 2U);
    EXPECT_TRUE(calls(CallKind::SetFeature).empty() && calls(CallKind::GetFeature).empty());
    EXPECT_EQ(window.messages, std::vector<std::string>(2, MessageNoTarvex));
    window.messages.clear(), api.tarvex().config().faults = {};
    ASSERT_TRUE(load());
    // The size, or -1 missing, -2 a directory, -3 unreadable, -4 a loop of links; the problem.
    using Case = std::pair<std::int64_t, const char*>;
    for (const auto& [size, problem] : {
             Case{-1, "is missing"}, Case{-2, "is not a file"}, Case{0, "is empty"},
             Case{79, "is 79 bytes, not a whole number of 40-byte records"}, Case{40, nullptr},
             Case{1310640, nullptr}, Case{1310680, "is too large: 32767 records, at most 32766"},
             Case{1600000, "is too large: 40000 records, at most 32766"}, // read to 32767
#ifdef __linux__
             Case{-3, "cannot be read"},   // write-only, for root too
             Case{-4, "cannot be read: "}, // a loop of links: not "missing"
#endif
         }) {
        fs::remove_all(image);
        const fs::path path = size == -3 ? "/proc/sys/vm/compact_memory" : image;
        if (size == -2)
            fs::create_directory(image);
        if (size == -4)
            fs::create_symlink(image, image);
        if (size >= 0)
            writeFile(image, imageBytes(size));
        const ImageCheck check = checkFirmwareImage(path);
        const auto* read = reinterpret_cast<const std::uint8_t*>(check.records.data());
        EXPECT_EQ(Bytes(read, read + check.records.size() * RecordSize), // the file's bytes
                  problem ? Bytes{} : imageBytes(size));
        const std::string told = check.problem.value_or(""),
                          named = "\"" + displayPath(path) + "\" ";
        EXPECT_TRUE(problem ? told.find(named + problem) != told.npos : told.empty()) << told;
    }
    updater.upgrade(); // the last problem: told, nothing touched, sleep not held off
    EXPECT_EQ(inhibitor.holds, 0);
    EXPECT_EQ(window.messages, std::vector<std::string>{*checkFirmwareImage(image).problem});
    EXPECT_TRUE(api.log().empty() && window.upgradeEnabled && window.captions.empty() &&
                window.unloads == 0 && api.openHandles() == 2); // the device open for another try
}

// Throws instead of making its n-th enumeration or n-th feature report.
struct ThrowingPlatform final : ForwardingPlatform {
    ThrowingPlatform(HidPlatform& inner, int polls, int reports)
        : ForwardingPlatform(inner), polls(polls), reports(reports) {}
    std::vector<EnumeratedInterface> enumerateInterfaces() override {
        return --polls == 0 ? throw std::runtime_error("boom")
                            : ForwardingPlatform::enumerateInterfaces();
    }
    CallResult setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        return --reports == 0 ? throw std::runtime_error("boom")
                              : ForwardingPlatform::setFeature(h, b, n);
    }
    int polls, reports;
};

// An unexpected error fails a command like any failure: told, handles closed, window unloaded.
TEST_F(UpgradeTest, AnUnexpectedErrorAtAnyStepEndsTheCommandLikeAnyFailure) {
    // At the entry, a poll, the unlock, the 7th record, a command line's first look; each command.
    for (const auto& [polls, reports] : {std::pair{0, 1}, {3, 0}, {0, 2}, {0, 9}, {-1, 0}}) {
        for (bool upgrade : {false, true}) {
            restartedInto(TarvexMode::Application), api.tarvex().config().statusBytes = {1, 0};
            ASSERT_TRUE(load());
            ThrowingPlatform thrower(api, polls < 0 ? 1 : polls, reports);
            FirmwareUpdater u(DeviceContext{thrower, window, state}, image);
            window.messages.clear(), window.unloads = 0;
            const CommandTarget target{polls < 0};
            upgrade ? u.upgrade(target) : u.forceBootloader(target);
            if (thrower.polls > 0 || thrower.reports > 0) { // Force Bootloader Mode never got there
                closeHandles();                             // while their platform is still there
                continue;
            }
            ASSERT_EQ(window.messages.size(), 1U);
            EXPECT_NE(window.messages[0].find("unexpected error: boom"), std::string::npos);
            EXPECT_EQ(window.unloads, upgrade && polls >= 0 ? 1 : 0);
            expectHandlesBalanced();
        }
    }
}

} // namespace
} // namespace quorvane::test
