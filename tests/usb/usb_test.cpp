// quorvane-cli and the window over hidraw against the Tarvex as a USB device: the kernel's USB
// core and usbhid enumerate it, carry every report as a control transfer and see each restart as
// a disconnect. What the device received is read from its log, byte for byte.
#include "frmMain.h"
#include "hidraw_platform.h"
#include "qt_view.h"
#include "run_command.h"
#include "temp_dir.h"
#include "usb_tarvex_run.h"

#include <QApplication>

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

TEST_F(UsbTest, TheListShowsWhatTheUsbDeviceSays) {
    UsbTarvexRun tarvex(dir.path(), "");
    const std::string node = UsbTarvexRun::waitForNode(AppModeProductId);
    ASSERT_NE(node, "");
    int status = -1;
    const std::string out = runCommand(QUORVANE_CLI " list --json", status);
    EXPECT_EQ(status, 0);
    const auto listed = nlohmann::json::parse(out);
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

TEST_F(UsbTest, AnUpdateDeliversEveryRecordOrSaysWhereTheDeviceFailed) {
    const UpdateCase cases[] = {
        {"complete", "", 0, "runs its new firmware, version 2\\.13 \\(12 records sent\\)", Records,
         "A-B-A"},
        {"stalled record", "--refuse-record 4", 4, "rejected (firmware )?record 4\\b", 3, "A-B",
         "bootloader set - stalled"},
        {"unplugged between records", "--vanish-after 5", 4, "left the bus", 5, "A-B-"},
        {"unplugged in a data stage", "--vanish-in-report 6", 4, "left the bus", 5, "A-B-",
         "bootloader set - vanished in its data stage"},
        {"stays in its bootloader", "--stay-in-bootloader", 5, "did not (restart|come back)",
         Records, "A-B-B"},
        {"never comes back", "--never-return", 5, "did not come back within 3 seconds", Records,
         "A-B-"},
    };
    for (const UpdateCase& row : cases) {
        SCOPED_TRACE(row.name);
        const auto bytes = image("firmware.bin");
        UsbTarvexRun tarvex(dir.path(),
                            std::string("--records 12 --off-bus-ms 1000 ") + row.faults);
        ASSERT_NE(UsbTarvexRun::waitForNode(AppModeProductId), "");
        int status = -1;
        const std::string out =
            cli("update --wait-limit 3 --image " + (dir.path() / "firmware.bin").string(), status);
        EXPECT_EQ(status, row.exitCode);
        EXPECT_TRUE(std::regex_search(out, std::regex(row.says))) << out;
        EXPECT_EQ(tarvex.stop(), updateLog(row.bus, bytes, row.recordsTaken, row.last));
    }
}

TEST_F(UsbTest, TheWindowUpdatesTheUsbTarvex) {
    static int argc = 1;
    static char name[] = "usb_test", *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static const auto* application = new QApplication(argc, argv); // lives to the end
    (void)application;
    const auto bytes = image("quorvane.bin");
    UsbTarvexRun tarvex(dir.path(), "--records 12 --off-bus-ms 1000");
    ASSERT_NE(UsbTarvexRun::waitForNode(AppModeProductId), "");
    HidrawPlatform api;
    // The Qt view, its boxes kept from the screen: what they would say is recorded.
    struct View final : QtView {
        void showMessage(const std::string& message) override { told.push_back(message); }
        void showNotice(const std::string& message) override { told.push_back(message); }
        std::vector<std::string> told;
    } view;
    frmMain window(view, api, dir.path() / "quorvane.bin");
    window.Form_Load();
    EXPECT_EQ(window.label(InfoLabel::Version), " 2.13"); // as the field shows it
    view.pressUpgrade();                                  // returns once it has ended
    EXPECT_TRUE(window.unloaded());
    const std::vector<std::string>& told = view.told;
    EXPECT_EQ(told, std::vector<std::string>());
    EXPECT_EQ(tarvex.stop(), updateLog("A-B-A", bytes, Records));
}

} // namespace
} // namespace quorvane::test
