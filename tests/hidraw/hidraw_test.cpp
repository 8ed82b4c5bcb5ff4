// The program over hidraw against the virtual Tarvex made a kernel device (uhid), on the real
// clock. Skipped where /dev/uhid cannot be opened; failed there when QUORVANE_REQUIRE_UHID is set.
#include "firmware_updater.h"
#include "frmMain.h"
#include "hidraw_platform.h"
#include "qt_view.h"
#include "tarvex_fixture.h"
#include "tarvex_report_descriptor.h"
#include "temp_dir.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace quorvane::test {
namespace {

// The virtual Tarvex (or another device it stands for) made a kernel device with /dev/uhid: its
// model answers on the steady clock, and each time it leaves the bus the device is made anew.
class UhidTarvex {
public:
    // Makes the kernel device and serves it; sets `error` when that is impossible.
    UhidTarvex(TarvexConfig config, std::string& error) : state_{VirtualTarvex(std::move(config))} {
        if (fd_ < 0 || !sync())
            error = std::string("no uhid device: ") + std::strerror(errno);
        else
            thread_ = std::thread(&UhidTarvex::serve, this);
    }
    ~UhidTarvex() { // closing /dev/uhid destroys the device
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }

    struct State {
        VirtualTarvex model;
        int opens = 0;     // times the host opened the device (as its first user)
        bool open = false; // whether the host has it open now
    };
    State snapshot() { return std::lock_guard(mutex_), state_; } // a copy, taken under the lock

    std::string hidrawPath() const { // the device's node while it is on the bus, else ""
        for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw")) {
            std::ifstream uevent(entry.path() / "device" / "uevent");
            for (std::string line; std::getline(uevent, line);)
                if (line == "HID_PHYS=" + phys_)
                    return "/dev/" + entry.path().filename().string();
        }
        return "";
    }

private:
    bool send(const uhid_event& e) { return ::write(fd_, &e, sizeof e) == ssize_t(sizeof e); }

    void serve() {
        uhid_event request{}, reply{};
        for (pollfd ready{fd_, POLLIN, 0}; !stop_;) {
            if (::poll(&ready, 1, 5) != 1 || ::read(fd_, &request, sizeof request) <= 0)
                request.type = UHID_START; // nothing came: only the model moves on
            const std::lock_guard serving(mutex_);
            sync();
            VirtualTarvex& model = state_.model; // brought up to date by sync()
            if (request.type == UHID_GET_REPORT) {
                // The host's length does not reach us: the whole report goes, its ID first.
                const std::uint16_t length = model.personality().featureReportByteLength;
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply = {request.u.get_report.id, 0, length, {}};
                if (!model.getFeature(&request.u.get_report.rnum, reply.u.get_report_reply.data,
                                      length))
                    reply.u.get_report_reply.err = EIO;
            } else if (request.type == UHID_SET_REPORT) {
                const uhid_set_report_req& set = request.u.set_report;
                const bool ok = model.setFeature(clock_.nowMs(), set.data, set.size);
                reply.type = UHID_SET_REPORT_REPLY;
                reply.u.set_report_reply = {set.id, __u16(ok ? 0 : EIO)};
            } else {
                state_.open =
                    request.type == UHID_OPEN || (state_.open && request.type != UHID_CLOSE);
                state_.opens += request.type == UHID_OPEN;
                continue;
            }
            send(reply);
        }
    }

    // Makes the kernel device match the model; false when the kernel refused it.
    bool sync() {
        VirtualTarvex& model = state_.model;
        model.advance(clock_.nowMs());
        const std::uint64_t wanted = model.present() ? model.generation() : 0;
        if (generation_ == wanted)
            return true;
        uhid_event event{};
        if (std::exchange(generation_, 0) != 0) {
            event.type = UHID_DESTROY;
            send(event);
            state_.open = false;
            // What the kernel queued for the old device must not reach the new one.
            while (::read(fd_, &event, sizeof event) > 0) {
            }
        }
        if (wanted == 0)
            return true;
        const TarvexPersonality& p = model.personality();
        const std::vector<std::uint8_t> items = tarvexReportDescriptor(p.featureReportByteLength);
        event = {UHID_CREATE2, {}};
        uhid_create2_req& create = event.u.create2;
        std::strncpy(reinterpret_cast<char*>(create.name), utf8Text(p.product).c_str(), 127);
        std::strncpy(reinterpret_cast<char*>(create.phys), phys_.c_str(), 63);
        std::strncpy(reinterpret_cast<char*>(create.uniq), utf8Text(p.serialNumber).c_str(), 63);
        std::memcpy(create.rd_data, items.data(), create.rd_size = items.size());
        create.bus = 0x03; // USB
        create.vendor = p.vendorId, create.product = p.productId, create.version = p.version;
        generation_ = wanted;
        return send(event);
    }

    int fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    const std::string phys_ =
        "quorvane/" + std::to_string(::getpid()) + "/" + std::to_string(std::uintptr_t(this));
    SteadyClock clock_;
    std::mutex mutex_;
    State state_;
    std::uint64_t generation_ = 0; // the model generation the kernel device stands for; 0: none
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

template <typename Predicate> bool waitUntil(Predicate done) { // for 20 s at most
    for (int k = 0; k < 10000 && !done(); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
}

TarvexConfig other(std::uint16_t vendor, std::uint16_t product) {
    TarvexConfig config;
    config.application = {vendor, product, 0x0100, u"", u"Other Device", u"F-1", 9};
    return config;
}

std::unique_ptr<UhidTarvex> plugIn(TarvexConfig config) {
    std::string error;
    auto device = std::make_unique<UhidTarvex>(std::move(config), error);
    EXPECT_TRUE(error.empty() && waitUntil([&] { return !device->hidrawPath().empty(); })) << error;
    return device;
}

class HidrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::setlocale(LC_CTYPE, "C.UTF-8"); // as the window's toolkit does in a UTF-8 locale
        std::string error;
        UhidTarvex probe(other(1, 1), error);
        if (!error.empty() && std::getenv("QUORVANE_REQUIRE_UHID") == nullptr)
            GTEST_SKIP() << error;
    }

    HidrawPlatform api;
    RecordingWindow window{api};
    DeviceState state;
    DeviceContext c{api, window, state};
};

TEST_F(HidrawTest, DiscoveryFollowsTheKernelsOrderAndTakesTheFirstTarvexProductId) {
    // Listed by bus, vendor, product: two before the Tarvex (one it may not open), two after.
    std::unique_ptr<UhidTarvex> devices[5] = {
        plugIn(other(0x046D, 0xC52B)), plugIn(other(0x0483, AppModeProductId)),
        plugIn(other(0x1D50, 0x6089)), plugIn(other(0x2211, 0x2212))};
    const std::string denied = devices[1]->hidrawPath();
    ASSERT_EQ(::chmod(denied.c_str(), 0), 0);
    // Without its capabilities (this thread's) root may not open a node of mode 0.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2]{};
    ASSERT_EQ(syscall(SYS_capset, &header, none), 0);
    EXPECT_FALSE(FindTheHid(c));
    EXPECT_EQ(state.AccessDeniedPath, denied);

    // The Tarvex arrives: found, but with the other unit listed (unopened) the wait stops.
    std::thread arrival([&] { devices[4] = plugIn(defaultTarvexConfig()); });
    EXPECT_EQ(WaitForDevice(c, WaitForm::Plain), WaitOutcome::SeveralUnits);
    arrival.join();
    EXPECT_EQ(state.DevicePath, devices[4]->hidrawPath());
    ASSERT_EQ(state.TarvexUnits.size(), 2U);
    EXPECT_EQ(state.TarvexUnits[0].VendorID, 0x0483);

    // Once it may be opened, the other vendor's device with a Tarvex product ID is taken.
    closeDeviceHandles(c);
    ASSERT_EQ(::chmod(denied.c_str(), 0600), 0);
    EXPECT_TRUE(FindTheHid(c));
    EXPECT_EQ(state.DevicePath, denied);
    EXPECT_EQ(state.Attributes.VendorID, 0x0483);
    closeDeviceHandles(c);
    // Each poll opened every device before the Tarvex; the one that found it none after it; the
    // last search the first two. Every one was let go.
    const int polls = static_cast<int>(window.eventTimes.size());
    const int opens[] = {2 + polls, 1, polls, polls, 1};
    for (int k = 0; k < 5; ++k)
        EXPECT_TRUE(waitUntil([&] {
            const UhidTarvex::State s = devices[k]->snapshot();
            return s.opens == opens[k] && !s.open;
        })) << devices[k]->snapshot().opens
            << " opens of device " << k;
}

// The window over hidraw follows a Tarvex made after its load, and its removal (the time each
// took is printed); one gone between the listing and the open, or the open and the first ioctl,
// is a failed open.
TEST_F(HidrawTest, TheWindowFollowsAPlugAndAnUnplugAndAVanishedNodeFailsToOpen) {
    static int argc = 1;
    static char name[] = "hidraw_test", *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static const auto* application = new QApplication(argc, argv); // lives to the end
    (void)application;
    QtView view;
    frmMain window(view, api, "/nonexistent/quorvane.bin");
    window.Form_Load();
    QElapsedTimer since;
    const auto followed = [&](const char* product) { // ms since `since` until the field shows it
        while (window.label(InfoLabel::Product) != product && since.elapsed() < 5000)
            QTest::qWait(5);
        return since.elapsed();
    };
    since.start();
    auto tarvex = plugIn(defaultTarvexConfig());
    const std::int64_t plugged = followed(" Tarvex");
    since.start();
    tarvex.reset();
    const std::int64_t unplugged = followed("");
    std::printf("the window followed a plug in %lld ms and an unplug in %lld ms\n",
                static_cast<long long>(plugged), static_cast<long long>(unplugged));
    EXPECT_LT(plugged, 1000);
    EXPECT_LT(unplugged, 1000);

    tarvex = plugIn(defaultTarvexConfig());
    const std::string path = tarvex->hidrawPath();
    const OpenResult opened = api.open(path, OpenMode::Plain);
    tarvex.reset();
    ASSERT_TRUE(waitUntil([&] { return !std::filesystem::exists(path); }));
    HidAttributes attributes;
    EXPECT_FALSE(api.getAttributes(opened.handle, attributes));
    EXPECT_TRUE(api.close(opened.handle));
    EXPECT_EQ(api.open(path, OpenMode::Plain).handle, 0U);
}

// A data report lost on the way (uhid answers EIO): the Tarvex leaving the bus a moment later
// makes it "gone", staying makes it a refusal; the system's words are kept either way.
TEST_F(HidrawTest, AReportLostOnTheWayIsToldLeftOrRefusedByLookingAgain) {
    for (const int leaveAfterMs : {5, -1}) {
        SCOPED_TRACE(leaveAfterMs);
        TarvexConfig t = defaultTarvexConfig();
        t.startMode = TarvexMode::Bootloader;
        t.faults.transportErrorAtDataReport = 1;
        t.faults.leaveAfterTransportErrorMs = leaveAfterMs;
        const auto tarvex = plugIn(t);
        const RawHandle handle = api.open(tarvex->hidrawPath(), OpenMode::Plain).handle;
        std::vector<std::uint8_t> report(65, 0); // report ID 0 and an empty record
        EXPECT_FALSE(api.setFeature(handle, report.data(), report.size()));
        EXPECT_EQ(api.lastReportFailure(),
                  leaveAfterMs < 0 ? ReportFailure::Refused : ReportFailure::DeviceGone);
        EXPECT_EQ(api.lastError().text, "Input/output error");
        EXPECT_TRUE(api.close(handle));
    }
}

// The report length the descriptor declares, the status byte (non-zero: the bootloader asks for
// the unlock report), the records, the data report the device refuses (0: none).
class UpgradeTest : public HidrawTest,
                    public ::testing::WithParamInterface<std::tuple<int, int, int, int>> {};

TEST_P(UpgradeTest, EveryRecordArrivesByteForByteThroughTheBootloaderRestart) {
    const auto [length, status, records, rejected] = GetParam();
    TarvexConfig t = defaultTarvexConfig();
    t.application.product = u"Tarvex \u00e9\U0001F527";
    t.application.featureReportByteLength = t.bootloader.featureReportByteLength = length;
    t.statusBytes = {0, std::uint8_t(status)};
    t.expectedRecords = records, t.faults.failDataReport = rejected;
    const auto tarvex = plugIn(t);
    TempDir dir;
    const auto bytes = imageBytes(RecordSize * records, length);
    writeFile(dir.path() / "image.bin", bytes);
    FindAndShowDevice(c);
    EXPECT_EQ(state.Capabilities->FeatureReportByteLength, length);
    EXPECT_EQ(window.label(InfoLabel::Product), "Tarvex \u00e9\U0001F527");
    EXPECT_EQ(window.label(InfoLabel::SerialNumber), "TX-000417");
    // The release number comes from the USB device above the interface; uhid has none.
    EXPECT_EQ(window.label(InfoLabel::Version), "0.0");

    FirmwareUpdater(c, dir.path() / "image.bin").upgrade();

    EXPECT_EQ(window.messages.size(), rejected ? 1U : 0U);
    EXPECT_TRUE(waitUntil([&] { return !tarvex->snapshot().open; }));
    std::vector<Record> sent(rejected ? rejected - 1 : records);
    std::memcpy(sent.data(), bytes.data(), RecordSize * sent.size());
    EXPECT_EQ(tarvex->snapshot().model.records(), sent);
}

INSTANTIATE_TEST_SUITE_P(Records, UpgradeTest,
                         ::testing::Values(std::tuple(65, 0, 16, 0), std::tuple(41, 7, 3, 0),
                                           std::tuple(101, 7, 3, 0), std::tuple(65, 0, 10, 3)));

} // namespace
} // namespace quorvane::test
