// The real program over the hidapi backend against the virtual Tarvex as the kernel sees it: a
// uhid device with a hidraw node, every report travelling through the kernel's HID stack. Waits
// run on the real clock. Where /dev/uhid cannot be opened the tests are skipped.
#include "captions.h"
#include "device_info.h"
#include "discovery.h"
#include "firmware_updater.h"
#include "hidapi_platform.h"
#include "report_descriptor.h"
#include "tarvex_fixture.h"
#include "temp_dir.h"
#include "uhid_tarvex.h"

#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous: under full emulation a device takes far longer to appear than the tens of
// milliseconds it takes on hardware.
constexpr auto AppearLimit = 20s;

template <typename Predicate> bool waitUntil(Predicate done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

UhidIdentity foreignIdentity(const char* name, std::uint16_t vendor, std::uint16_t product) {
    UhidIdentity identity;
    identity.name = name;
    identity.uniq = "F-1";
    identity.vendorId = vendor;
    identity.productId = product;
    identity.version = 0x0100;
    identity.reportDescriptor = vendorFeatureReportDescriptor(9);
    return identity;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class HidrawTest : public ::testing::Test {
protected:
    HidrawTest() : window(api) { state.ProgressFullWidth = 5055; }

    void SetUp() override {
        std::string error;
        if (!UhidDevice::open(error))
            GTEST_SKIP() << "no kernel HID device can be made here: " << error;
    }

    DeviceContext ctx() { return DeviceContext{api, window, state}; }

    // hidapi lists the device with this phys label; returns its path, or "" after the limit.
    std::string waitUntilListed(const std::function<std::optional<std::string>()>& node) {
        std::string path;
        waitUntil(
            [&] {
                const auto found = node();
                if (found && contains(api.enumerateInterfaces(), *found))
                    path = *found;
                return !path.empty();
            },
            AppearLimit);
        return path;
    }

    void startTarvex(TarvexConfig config) {
        std::string error;
        tarvex = UhidTarvex::start(std::move(config), error);
        ASSERT_TRUE(tarvex) << error;
        tarvexPath = waitUntilListed([this] { return tarvex->hidrawPath(); });
        ASSERT_FALSE(tarvexPath.empty()) << "hidapi never listed the device";
    }

    UhidForeignDevice& startForeign(const UhidIdentity& identity) {
        std::string error;
        auto device = UhidForeignDevice::start(identity, error);
        EXPECT_TRUE(device) << error;
        if (!device)
            throw std::runtime_error(error);
        foreign.push_back(std::move(device));
        UhidForeignDevice& added = *foreign.back();
        EXPECT_FALSE(waitUntilListed([&added] { return added.hidrawPath(); }).empty())
            << identity.name << " never listed";
        return added;
    }

    // What the window does when it loads.
    void load() {
        auto c = ctx();
        state.DeviceFound = FindTheHid(c);
        ShowDeviceInfo(c);
    }

    void writeImage(std::size_t records) {
        bytes = imageBytes(records * 40, static_cast<unsigned>(records));
        writeFile(image, bytes);
        tarvex->modify([&](VirtualTarvex& t) { t.config().expectedRecords = int(records); });
    }

    void expectRecordsDelivered(std::size_t count) const {
        const auto records = tarvex->inspect([](const VirtualTarvex& t) { return t.records(); });
        ASSERT_EQ(records.size(), count);
        for (std::size_t k = 0; k < count; ++k)
            EXPECT_TRUE(std::equal(records[k].begin(), records[k].end(), bytes.begin() + 40 * k))
                << "record " << k + 1;
    }

    TarvexMode mode() const {
        return tarvex->inspect([](const VirtualTarvex& t) { return t.mode(); });
    }

    // Every handle the program opened on the device has been closed.
    void expectClosedByHost() const {
        EXPECT_TRUE(waitUntil([this] { return !tarvex->openByHost(); }, 2s));
    }

    HidapiPlatform api;
    RecordingWindow window;
    DeviceState state;
    std::unique_ptr<UhidTarvex> tarvex;
    std::string tarvexPath;
    std::vector<std::unique_ptr<UhidForeignDevice>> foreign;
    TempDir dir;
    fs::path image = dir.path() / "quorvane.bin";
    std::vector<std::uint8_t> bytes;
};

TEST(UhidDescriptor, DeclaresOneFeatureReportOfTheRequestedLength) {
    for (std::uint16_t length : {2, 9, 41, 65, 101, 4096}) {
        const auto parsed = parseFeatureReportByteLength(vendorFeatureReportDescriptor(length));
        ASSERT_TRUE(parsed) << parsed.error;
        EXPECT_EQ(*parsed.featureReportByteLength, length);
    }
    for (std::uint16_t length : {0, 1, 4097})
        EXPECT_TRUE(vendorFeatureReportDescriptor(length).empty()) << length;
}

TEST_F(HidrawTest, ForeignDevicesAreRejectedAndTheTarvexIsFoundWhenItArrives) {
    // Kernel order follows bus, vendor and product: these two come before the Tarvex, the
    // others after it.
    auto& before1 = startForeign(foreignIdentity("Other Receiver", 0x046D, 0xC52B));
    auto& before2 = startForeign(foreignIdentity("Same Vendor Tool", 0x1D50, 0x1001));
    auto& after1 = startForeign(foreignIdentity("Same Vendor Probe", 0x1D50, 0x6089));
    auto& after2 = startForeign(foreignIdentity("Our Product As Vendor", 0x2211, 0x2212));

    // Nothing but foreign devices: each is opened, rejected and closed again.
    load();
    EXPECT_FALSE(state.DeviceFound);
    EXPECT_EQ(window.label(InfoLabel::Product), "");
    for (const auto* f : {&before1, &before2, &after1, &after2}) {
        EXPECT_TRUE(waitUntil([f] { return f->opens() == 1 && !f->openByHost(); }, 2s))
            << f->phys() << " opens " << f->opens();
        EXPECT_EQ(f->reportsAsked(), 0);
    }

    // The Tarvex arrives while the program waits for it.
    std::thread plugIn([this] {
        std::this_thread::sleep_for(300ms);
        std::string error;
        tarvex = UhidTarvex::start(testTarvexConfig(), error);
    });
    auto c = ctx();
    const WaitOutcome outcome = WaitForDevice(c, WaitForm::Plain);
    plugIn.join();
    ASSERT_TRUE(tarvex);
    EXPECT_EQ(outcome, WaitOutcome::Found);
    ASSERT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.DevicePath, tarvex->hidrawPath().value_or("gone"));
    EXPECT_EQ(state.Attributes.ProductID, AppModeProductId);
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, 65);
    EXPECT_TRUE(state.HidHandle.isOpen());
    EXPECT_TRUE(state.OverlappedHandle.isOpen());
    EXPECT_TRUE(tarvex->openByHost());
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex");
    EXPECT_EQ(window.label(InfoLabel::SerialNumber), " TX-000417");

    // Every poll of the wait went through the devices listed before the Tarvex; the one that
    // found it opened none of those after it.
    const auto order = api.enumerateInterfaces();
    const auto at = [&](const std::string& path) {
        return std::find(order.begin(), order.end(), path) - order.begin();
    };
    const auto tarvexAt = at(state.DevicePath);
    const int polls = static_cast<int>(window.eventTimes.size());
    ASSERT_GE(polls, 1);
    for (const auto* f : {&before1, &before2}) {
        ASSERT_LT(at(f->hidrawPath().value_or("")), tarvexAt) << f->phys();
        EXPECT_TRUE(waitUntil([&] { return f->opens() == 1 + polls && !f->openByHost(); }, 2s))
            << f->phys() << " opens " << f->opens() << " polls " << polls;
    }
    for (const auto* f : {&after1, &after2}) {
        ASSERT_GT(at(f->hidrawPath().value_or("")), tarvexAt) << f->phys();
        EXPECT_TRUE(waitUntil([&] { return f->opens() == polls && !f->openByHost(); }, 2s))
            << f->phys() << " opens " << f->opens() << " polls " << polls;
    }
    closeDeviceHandles(c);
    expectClosedByHost();
}

class ReportLengthTest : public HidrawTest, public ::testing::WithParamInterface<int> {};

TEST_P(ReportLengthTest, LengthFromTheReportDescriptorCarriesEveryReport) {
    const auto length = static_cast<std::uint16_t>(GetParam());
    TarvexConfig config = testTarvexConfig();
    config.application.featureReportByteLength = length;
    config.bootloader.featureReportByteLength = length;
    config.statusBytes = {0, 7}; // the bootloader takes no record before the unlock report
    ASSERT_NO_FATAL_FAILURE(startTarvex(config));
    writeImage(3);
    load();
    ASSERT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, length);

    FirmwareUpdater updater(ctx(), image);
    updater.upgrade();
    EXPECT_TRUE(window.messages.empty()) << window.messages.front();
    // The device takes only reports of exactly its length with report ID 0, and answered the
    // status report at that length: every record arriving shows all of them travelled right.
    expectRecordsDelivered(3);
    EXPECT_EQ(mode(), TarvexMode::Application);
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, length);
    EXPECT_EQ(state.FeatureReport[2], 7) << "status bytes as the bootloader sent them";
}

INSTANTIATE_TEST_SUITE_P(Lengths, ReportLengthTest, ::testing::Values(41, 65, 101));

TEST_F(HidrawTest, WholeUpgradeFromApplicationFirmware) {
    ASSERT_NO_FATAL_FAILURE(startTarvex(testTarvexConfig()));
    writeImage(16);
    load();
    ASSERT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.Attributes.ProductID, AppModeProductId);

    FirmwareUpdater updater(ctx(), image);
    updater.upgrade();

    EXPECT_TRUE(window.messages.empty()) << window.messages.front();
    EXPECT_EQ(window.unloads, 1);
    EXPECT_EQ(window.captions,
              (std::vector<std::string>{CaptionSwitching, CaptionUpdating, CaptionFinishing}));
    expectRecordsDelivered(16);
    EXPECT_EQ(mode(), TarvexMode::Application);
    EXPECT_EQ(tarvex->inspect([](const VirtualTarvex& t) { return t.bootloaderEntries(); }), 1);
    EXPECT_EQ(tarvex->inspect([](const VirtualTarvex& t) { return t.dataReportsSeen(); }), 16);
    // Two departures from the bus, each followed by a new kernel device.
    EXPECT_EQ(tarvex->productIdsCreated(),
              (std::vector<std::uint16_t>{AppModeProductId, BootModeProductId, AppModeProductId}));
    // The program found it again in its application firmware, then let go of it.
    EXPECT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.Attributes.ProductID, AppModeProductId);
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex");
    EXPECT_FALSE(state.HidHandle.isOpen());
    EXPECT_FALSE(state.OverlappedHandle.isOpen());
    expectClosedByHost();

    ASSERT_EQ(window.progressWidths.size(), 18U);
    EXPECT_EQ(window.progressWidths.front(), 0.0F);
    for (int k = 1; k <= 16; ++k)
        EXPECT_FLOAT_EQ(window.progressWidths[k], static_cast<float>(k * 5055.0 / 16.0));
    EXPECT_EQ(window.progressWidths.back(), 0.0F);
    EXPECT_EQ(window.repaints, 16);
}

TEST_F(HidrawTest, ARejectedDataReportStopsTheTransferAndSaysWhich) {
    TarvexConfig config = testTarvexConfig();
    config.faults.failDataReport = 3;
    ASSERT_NO_FATAL_FAILURE(startTarvex(config));
    writeImage(10);
    load();
    ASSERT_TRUE(state.DeviceFound);

    FirmwareUpdater updater(ctx(), image);
    updater.upgrade();

    ASSERT_EQ(window.messages.size(), 1U);
    EXPECT_NE(window.messages[0].find("record 3 of 10"), std::string::npos) << window.messages[0];
    EXPECT_EQ(window.caption(), CaptionUpdating);
    EXPECT_EQ(window.progressWidth(), 0.0F);
    EXPECT_EQ(window.unloads, 1);
    expectRecordsDelivered(2);
    // No retry and nothing after the rejected report; the device waits in its bootloader.
    EXPECT_EQ(tarvex->inspect([](const VirtualTarvex& t) { return t.dataReportsSeen(); }), 3);
    EXPECT_EQ(mode(), TarvexMode::Bootloader);
    EXPECT_EQ(tarvex->productIdsCreated(),
              (std::vector<std::uint16_t>{AppModeProductId, BootModeProductId}));
    expectClosedByHost();
}

TEST_F(HidrawTest, ForceBootloaderModeLeavesTheDeviceFoundInItsBootloader) {
    ASSERT_NO_FATAL_FAILURE(startTarvex(testTarvexConfig()));
    load();
    ASSERT_TRUE(state.DeviceFound);
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex");

    FirmwareUpdater updater(ctx(), image);
    updater.forceBootloader();

    EXPECT_TRUE(window.messages.empty()) << window.messages.front();
    EXPECT_EQ(window.unloads, 0);
    EXPECT_EQ(mode(), TarvexMode::Bootloader);
    EXPECT_EQ(tarvex->inspect([](const VirtualTarvex& t) { return t.bootloaderEntries(); }), 1);
    EXPECT_EQ(tarvex->productIdsCreated(),
              (std::vector<std::uint16_t>{AppModeProductId, BootModeProductId}));
    ASSERT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.Attributes.ProductID, BootModeProductId);
    EXPECT_EQ(state.DevicePath, tarvex->hidrawPath().value_or("gone"));
    EXPECT_TRUE(state.HidHandle.isOpen());
    EXPECT_TRUE(state.OverlappedHandle.isOpen());
    EXPECT_TRUE(tarvex->openByHost());
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex Bootloader");

    // The handles are on the bootloader: its status report answers through them.
    auto c = ctx();
    state.FeatureReport.assign(ReportBufferSize, 0xEE);
    state.FeatureReport[0] = 0;
    ASSERT_TRUE(api.getFeature(state.HidHandle.raw(), state.FeatureReport.data(), 65));
    EXPECT_TRUE(std::all_of(state.FeatureReport.begin(), state.FeatureReport.begin() + 65,
                            [](std::uint8_t b) { return b == 0; }));
    closeDeviceHandles(c);
    expectClosedByHost();
}

} // namespace
} // namespace quorvane::test
