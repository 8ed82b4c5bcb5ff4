// quorvane-cli and the window over hidraw against the Tarvex as a USB device: the kernel's USB
// core and usbhid enumerate it, carry every report as a control transfer and see each restart as
// a disconnect. What the device received is read from its log, byte for byte.
#include "frmMain.h"
#include "hidraw_platform.h"
#include "qt_view.h"
#include "recording_window.h"
#include "run_command.h"
#include "temp_dir.h"
#include "usb_tarvex_run.h"

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <nlohmann/json.hpp>

#include <regex>

namespace quorvane::test {
namespace {

constexpr int Records = 12;

class UsbTest : public ::testing::Test {
protected:
    void SetUp() override { SKIP_WITHOUT_USB_TARVEX(); }

    std::string cli(const std::string& arguments, int& status) const {
        return runCommand("XDG_STATE_HOME=" + dir.path().string() + " " QUORVANE_CLI " " +
                              arguments + " 2>&1",
                          status);
    }
    std::vector<std::uint8_t> image(const char* name) const {
        auto bytes = imageBytes(RecordSize * Records, 3);
        writeFile(dir.path() / name, bytes);
        return bytes;
    }

    TempDir dir;
};

TEST_F(UsbTest, AnUpdateDeliversEveryRecordOrSaysWhereTheDeviceFailed) {
    const UpdateCase cases[] = {
        {"complete", "", 0, "runs its new firmware, version 2\\.13 \\(12 records sent\\)", Records,
         "A-B-A"},
        {"stalled record", "--refuse-record 4", 4, "rejected (firmware )?record 4\\b", 3, "A-B",
         "bootloader set - stalled"},
        {"unplugged between records", "--vanish-after 5", 4, "left the bus", 5, "A-B-"},
        {"unplugged in a data stage", "--vanish-in-report 6", 4, "left the bus", 5, "A-B-",
         "bootloader set - vanished in its data stage"},
    };
    for (const UpdateCase& row : cases) {
        SCOPED_TRACE(row.name);
        const auto bytes = image("firmware.bin");
        UsbTarvexRun tarvex(dir.path(),
                            std::string("--records 12 --off-bus-ms 1000 ") + row.faults);
        const std::string node = UsbTarvexRun::waitForNode(AppModeProductId);
        ASSERT_NE(node, "");
        int status = -1;
        if (row.exitCode == 0) { // the list shows what the USB device says
            const auto listed = nlohmann::json::parse(cli("list --json", status));
            EXPECT_EQ(status, 0);
            ASSERT_EQ(listed["tarvex"].size(), 1U);
            const auto& unit = listed["tarvex"][0];
            EXPECT_EQ(unit["path"], node);
            EXPECT_EQ(unit["mode"], "application");
            EXPECT_EQ(unit["manufacturer"], "Tarvex Devices");
            EXPECT_EQ(unit["product"], "Tarvex");
            EXPECT_EQ(unit["serial_number"], "TX-000417");
            EXPECT_EQ(unit["version"], "2.13"); // bcdDevice 0x0213
            EXPECT_EQ(unit["report_length"], 65);
        }
        const std::string out =
            cli("update --wait-limit 3 --image " + (dir.path() / "firmware.bin").string(), status);
        EXPECT_EQ(status, row.exitCode);
        EXPECT_TRUE(std::regex_search(out, std::regex(row.says))) << out;
        EXPECT_EQ(tarvex.stop(), updateLog(row.bus, bytes, row.recordsTaken, row.last));
    }
}

// The window follows a Tarvex plugged in after its load and its removal (the time each took is
// printed), and updates it when it comes again.
TEST_F(UsbTest, TheWindowFollowsAPlugAndAnUnplugAndUpdatesTheUsbTarvex) {
    static int argc = 1;
    static char name[] = "usb_test", *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static const auto* application = new QApplication(argc, argv); // lives to the end
    (void)application;
    const auto bytes = image("quorvane.bin");
    HidrawPlatform api;
    // The Qt view, its boxes kept from the screen: what they would say is recorded.
    struct View final : QtView {
        void showMessage(const std::string& message) override { told.push_back(message); }
        void showNotice(const std::string& message) override { told.push_back(message); }
        std::vector<std::string> told;
    } view;
    frmMain window(view, api, dir.path() / "quorvane.bin");
    window.Form_Load();
    QElapsedTimer since;
    const auto followed = [&](const char* product) { // ms since `since` until the field shows it
        while (window.label(InfoLabel::Product) != product && since.elapsed() < 5000)
            QTest::qWait(5);
        return since.elapsed();
    };
    since.start();
    auto tarvex = std::make_unique<UsbTarvexRun>(dir.path(), "");
    const std::int64_t plugged = followed(" Tarvex");
    EXPECT_EQ(window.label(InfoLabel::Product), " Tarvex");
    since.start();
    tarvex.reset();
    const std::int64_t unplugged = followed("");
    EXPECT_EQ(window.label(InfoLabel::Product), "");
    std::printf("the window followed a plug in %lld ms and an unplug in %lld ms\n",
                static_cast<long long>(plugged), static_cast<long long>(unplugged));

    tarvex = std::make_unique<UsbTarvexRun>(dir.path(), "--records 12 --off-bus-ms 1000");
    followed(" Tarvex");
    EXPECT_EQ(window.label(InfoLabel::Version), " 2.13"); // as the field shows it
    view.pressUpgrade();                                  // returns once it has ended
    EXPECT_TRUE(window.unloaded());
    EXPECT_EQ(view.told, std::vector<std::string>());
    EXPECT_EQ(tarvex->stop(), updateLog("A-B-A", bytes, Records));
}

// The hidraw nodes this process holds open.
int openNodes() {
    int nodes = 0;
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        nodes += std::filesystem::read_symlink(fd, ec).string().rfind("/dev/hidraw", 0) == 0;
    return nodes;
}

// A node this account may not open is noted for the advice; once it may, nothing found is left
// open; a node gone after its open fails its first ioctl and any open.
TEST_F(UsbTest, ADeniedNodeIsNotedAndAVanishedOneFailsToOpen) {
    UsbTarvexRun tarvex(dir.path(), "");
    const std::string node = UsbTarvexRun::waitForNode(AppModeProductId);
    ASSERT_NE(node, "");
    HidrawPlatform api;
    RecordingWindow window{api};
    DeviceState state;
    DeviceContext c{api, window, state};
    ASSERT_EQ(::chmod(node.c_str(), 0), 0);
    // Without its capabilities (this thread's) root may not open a node of mode 0.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2]{};
    ASSERT_EQ(syscall(SYS_capset, &header, none), 0);
    EXPECT_EQ(FindTheHid(c).accessDeniedPath, node);
    EXPECT_FALSE(state.DeviceFound);
    ASSERT_EQ(::chmod(node.c_str(), 0600), 0);
    FindTheHid(c);
    EXPECT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.DevicePath, node);
    EXPECT_EQ(openNodes(), 2); // plain and overlapped
    state.closeHandles();
    EXPECT_EQ(openNodes(), 0);

    const OpenResult opened = api.open(node, OpenMode::Plain);
    tarvex.stop();
    for (int k = 0; k < 400 && std::filesystem::exists(node); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    HidAttributes attributes;
    EXPECT_FALSE(api.getAttributes(opened.handle, attributes));
    EXPECT_TRUE(api.close(opened.handle));
    EXPECT_EQ(api.open(node, OpenMode::Plain).handle, 0U);
}

} // namespace
} // namespace quorvane::test
