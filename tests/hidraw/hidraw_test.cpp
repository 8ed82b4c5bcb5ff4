// The program over hidapi against the virtual Tarvex made a kernel device (uhid), on the real
// clock. Skipped where /dev/uhid cannot be opened; failed there when QUORVANE_REQUIRE_UHID is set.
#include "firmware_updater.h"
#include "hidapi_platform.h"
#include "tarvex_fixture.h"
#include "temp_dir.h"
#include "uhid_tarvex.h"

#include <linux/capability.h>
#include <sys/syscall.h>

namespace quorvane::test {
namespace {

template <typename Predicate> bool waitUntil(Predicate done) { // for 20 s at most
    for (int k = 0; k < 10000 && !done(); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

void dropCapabilities() { // the calling thread's: without them root may not open a node of mode 0
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2]{};
    syscall(SYS_capset, &header, none);
}

class HidrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::setlocale(LC_CTYPE, "C.UTF-8"); // as the window's toolkit does in a UTF-8 locale
        std::string error;
        UhidTarvex probe(other(1, 1), error);
        if (!error.empty() && std::getenv("QUORVANE_REQUIRE_UHID") == nullptr)
            GTEST_SKIP() << error;
        ASSERT_EQ(error, "") << "QUORVANE_REQUIRE_UHID is set";
    }

    static TarvexConfig other(std::uint16_t vendor, std::uint16_t product) {
        TarvexConfig config = defaultTarvexConfig();
        config.application = {vendor, product, 0x0100, u"", u"Other Device", u"F-1", 9};
        return config;
    }

    static std::unique_ptr<UhidTarvex> plugIn(TarvexConfig config) {
        std::string error;
        auto device = std::make_unique<UhidTarvex>(std::move(config), error);
        EXPECT_TRUE(error.empty() && waitUntil([&] { return !device->hidrawPath().empty(); }));
        return device;
    }

    // The host has opened the device `opens` times, and let go of it.
    static void expectLetGo(UhidTarvex& device, int opens) {
        EXPECT_TRUE(waitUntil([&] {
            const UhidTarvex::State s = device.snapshot();
            return s.opens == opens && !s.open;
        })) << device.snapshot().opens
            << " opens, not " << opens;
    }

    HidapiPlatform api;
    RecordingWindow window{api};
    DeviceState state;
    DeviceContext c{api, window, state};
    std::unique_ptr<UhidTarvex> tarvex;
};

TEST_F(HidrawTest, DiscoveryFollowsTheKernelsOrderAndTakesTheFirstTarvexProductId) {
    // Listed by bus, vendor, product: two before the Tarvex (one it may not open), two after.
    std::unique_ptr<UhidTarvex> others[] = {
        plugIn(other(0x046D, 0xC52B)), plugIn(other(0x0483, AppModeProductId)),
        plugIn(other(0x1D50, 0x6089)), plugIn(other(0x2211, 0x2212))};
    const std::string denied = others[1]->hidrawPath();
    ASSERT_EQ(::chmod(denied.c_str(), 0), 0);
    dropCapabilities();
    EXPECT_FALSE(FindTheHid(c));
    EXPECT_EQ(state.AccessDeniedPath, denied);

    // The Tarvex arrives while the program waits for it.
    std::thread arrival([&] { tarvex = plugIn(defaultTarvexConfig()); });
    EXPECT_EQ(WaitForDevice(c, WaitForm::Plain), WaitOutcome::Found);
    arrival.join();
    EXPECT_EQ(state.DevicePath, tarvex->hidrawPath());
    // Each poll opened every device before the Tarvex; the one that found it none after it.
    const int polls = static_cast<int>(window.eventTimes.size());
    const int opens[] = {1 + polls, 0, polls, polls};
    for (int k = 0; k < 4; ++k)
        expectLetGo(*others[k], opens[k]);

    // Once it may be opened, the other vendor's device with a Tarvex product ID is taken.
    closeDeviceHandles(c);
    ASSERT_EQ(::chmod(denied.c_str(), 0600), 0);
    EXPECT_TRUE(FindTheHid(c));
    EXPECT_EQ(state.DevicePath, denied);
    EXPECT_EQ(state.Attributes.VendorID, 0x0483);
    closeDeviceHandles(c);
    expectLetGo(*others[1], 1);
    expectLetGo(*tarvex, 1);
}

struct Upgrade {
    std::uint16_t length;  // of the feature reports, as the report descriptor declares it
    std::uint16_t status;  // non-zero: the bootloader asks for the unlock report
    int records, rejected; // rejected: the data report the device refuses, 0 for none
};

class UpgradeTest : public HidrawTest, public ::testing::WithParamInterface<Upgrade> {};

TEST_P(UpgradeTest, EveryRecordArrivesByteForByteThroughTheBootloaderRestart) {
    const Upgrade u = GetParam();
    TarvexConfig t = defaultTarvexConfig();
    t.application.product = u"Tarvex \u00e9\U0001F527";
    t.application.featureReportByteLength = t.bootloader.featureReportByteLength = u.length;
    t.statusBytes = {0, std::uint8_t(u.status)};
    t.expectedRecords = u.records;
    t.faults.failDataReport = u.rejected;
    tarvex = plugIn(t);
    TempDir dir;
    const auto bytes = imageBytes(RecordSize * u.records, u.length);
    writeFile(dir.path() / "image.bin", bytes);
    state.DeviceFound = FindTheHid(c);
    ShowDeviceInfo(c);
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, u.length);
    EXPECT_EQ(window.label(InfoLabel::Product), "Tarvex \u00e9\U0001F527");
    EXPECT_EQ(window.label(InfoLabel::SerialNumber), "TX-000417");
    // hidapi takes the release number from the USB device above the interface; uhid has none.
    EXPECT_EQ(window.label(InfoLabel::Version), "0.0");

    FirmwareUpdater(c, dir.path() / "image.bin").upgrade();

    EXPECT_EQ(window.messages.size(), u.rejected ? 1U : 0U);
    EXPECT_TRUE(waitUntil([&] { return !tarvex->snapshot().open; }));
    const UhidTarvex::State s = tarvex->snapshot();
    const auto& got = s.model.records();
    ASSERT_EQ(int(got.size()), u.rejected ? u.rejected - 1 : u.records);
    for (std::size_t k = 0; k < got.size(); ++k)
        EXPECT_TRUE(std::equal(got[k].begin(), got[k].end(), &bytes[RecordSize * k])) << k;
}

INSTANTIATE_TEST_SUITE_P(Records, UpgradeTest,
                         ::testing::Values(Upgrade{65, 0, 16, 0}, Upgrade{41, 7, 3, 0},
                                           Upgrade{101, 7, 3, 0}, Upgrade{65, 0, 10, 3}));

} // namespace
} // namespace quorvane::test
