// The Windows build's quorvane-cli.exe under Wine against the USB Tarvex, through Wine's own HID
// stack: winebus.sys takes the hidraw node (HidD_SetFeature becomes HIDIOCSFEATURE) and follows
// the device's restarts through udevd's events. Needs QUORVANE_WINDOWS_CLI (the .exe) and a
// WINEPREFIX whose winebus has its SDL bus off ("Enable SDL"=0), else its hidraw bus never starts;
// skips without them unless QUORVANE_REQUIRE_WINE is set.
#include "run_command.h"
#include "temp_dir.h"
#include "usb_tarvex_run.h"

#include <nlohmann/json.hpp>

#include <regex>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;
constexpr int Records = 12;

class WineHidTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_USB_TARVEX();
        const char* exe = std::getenv("QUORVANE_WINDOWS_CLI");
        if (exe == nullptr || std::getenv("WINEPREFIX") == nullptr) {
            if (std::getenv("QUORVANE_REQUIRE_WINE") == nullptr)
                GTEST_SKIP() << "no QUORVANE_WINDOWS_CLI or WINEPREFIX";
            FAIL() << "no QUORVANE_WINDOWS_CLI or WINEPREFIX";
        }
        // Wine runs an .exe from the VM's uncached 9p mount badly (it overflowed its stack).
        fs::copy_file(exe, dir.path() / "quorvane-cli.exe");
        // One server, with Wine's services (winebus among them) started once for the test.
        int status = -1;
        runCommand(Fixed + Wine + "server -p && " + Fixed + Wine + "64 wineboot", status);
        ASSERT_EQ(status, 0);
    }
    void TearDown() override {
        int status = -1;
        runCommand(Wine + "server -k", status);
    }

    std::string cli(const std::string& arguments, int& status, const char* redirect = "") const {
        return runCommand(Fixed + Wine + "64 " + (dir.path() / "quorvane-cli.exe").string() + " " +
                              arguments + redirect,
                          status);
    }

    // Debian's Wine, on a fixed address layout (see scripts/lib/wine.sh).
    const std::string Wine = "/usr/lib/wine/wine", Fixed = "setarch $(uname -m) -R ";

    TempDir dir;
};

TEST_F(WineHidTest, TheWindowsCommandLineFindsTheUsbTarvexAndUpdatesIt) {
    const auto bytes = imageBytes(RecordSize * Records, 4);
    writeFile(dir.path() / "firmware.bin", bytes);
    const std::string image = " --image Z:" + (dir.path() / "firmware.bin").string();
    const UpdateCase cases[] = {
        {"complete", "", 0, "runs its new firmware, version 2\\.13 \\(12 records sent\\)", Records,
         "A-B-A"},
        {"stalled record", "--refuse-record 4", 4, "rejected (firmware )?record 4\\b", 3, "A-B",
         "bootloader set - stalled"},
    };
    for (const UpdateCase& row : cases) {
        SCOPED_TRACE(row.name);
        // Wine may miss a device that comes back while it still removes the one that left.
        UsbTarvexRun tarvex(dir.path(),
                            std::string("--records 12 --off-bus-ms 2000 ") + row.faults);
        ASSERT_NE(UsbTarvexRun::waitForNode(AppModeProductId), "");
        int status = -1;
        if (row.exitCode == 0) {
            // Wine 8.0's hidraw bus does not read the USB strings: it names the manufacturer
            // "hidraw" and the product by the kernel's name for the HID device.
            const auto listed = nlohmann::json::parse(cli("list --json", status));
            EXPECT_EQ(status, 0);
            ASSERT_EQ(listed["tarvex"].size(), 1U);
            EXPECT_EQ(listed["tarvex"][0]["mode"], "application");
            EXPECT_EQ(listed["tarvex"][0]["serial_number"], "TX-000417");
            EXPECT_EQ(listed["tarvex"][0]["version"], "2.13");
            EXPECT_EQ(listed["tarvex"][0]["report_length"], 65);
        }
        const std::string out = cli("update --wait-limit 30" + image, status, " 2>&1");
        EXPECT_EQ(status, row.exitCode);
        EXPECT_TRUE(std::regex_search(out, std::regex(row.says))) << out;
        EXPECT_EQ(tarvex.stop(), updateLog(row.bus, bytes, row.recordsTaken, row.last));
    }
}

} // namespace
} // namespace quorvane::test
