// The Windows backend's text, paths and clock, quorvane-cli's arguments, and quorvane.exe's
// identity, on the running system.
#include "cli.h"
#include "device_path.h"
#include "executable_directory.h"
#include "sleep_inhibitor.h"
#include "tarvex_fixture.h"
#include "temp_dir.h"
#include "terminal.h"
#include "windows_platform.h"
#include "windows_text.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

#include <process.h>
#include <windows.h>

namespace quorvane::test {

TEST(WindowsText, NothingWhereAReplacedCharacterWouldNameAnotherPathOrPlace) {
    EXPECT_EQ(wideFromUtf8("\xC3("), std::nullopt);
    EXPECT_EQ(utf8FromWide(L"a\xD83D"), std::nullopt);
}

TEST(DevicePath, IdsAndUnitOfAnInterfacePathInAnyCaseFromWholeFieldsOfFourDigits) {
    // The vendor (0 when unnamed), the product, and a sibling collection's path, or none.
    const std::tuple<const char*, std::uint16_t, std::uint16_t, const char*> paths[] = {
        {R"(\\?\HID#VID_1D50&PID_22&XPID_1111#PID_B04f&MI_00#8&2f)", 0x1D50, 0xB04F, ""},
        {R"(\\?\hid#vid_1d50&pid_2211&col01#7&1a2b3c&0&0000#{4d1e})", 0x1D50, 0x2211,
         R"(\\?\HID#VID_1D50&PID_2211&COL02#7&1A2B3C&0&0001#{4D1E})"},
        {"pid_00ff", 0, 0x00FF, ""}};
    for (const auto& [path, vendor, product, sibling] : paths) {
        const auto found = interfaceOfDevicePath(path);
        ASSERT_TRUE(found) << path;
        EXPECT_EQ(std::pair(found->VendorID, found->ProductID), std::pair(vendor, product));
        EXPECT_EQ(found->Unit, interfaceOfDevicePath(*sibling ? sibling : path)->Unit);
        EXPECT_NE(found->Unit, interfaceOfDevicePath("pid_1111#7&9f9f&0&0000#{4d1e}")->Unit);
    }
    EXPECT_FALSE(interfaceOfDevicePath(R"(\\?\hid#vid_1d50&pid_22g1#1)"));
    // The node whose place is the unit's: a USB device, not one of its interfaces.
    for (const auto& [id, device] : {std::pair{R"(USB\VID_1D50&PID_2211\TX-000417)", true},
                                     {R"(usb\vid_1d50&pid_b046\5&2f&0&2)", true},
                                     {R"(USB\VID_1D50&PID_2211&MI_00\6&1a&0&0000)", false},
                                     {R"(HID\VID_1D50&PID_2211\7&1a2b3c&0&0000)", false},
                                     {R"(USBSTOR\DISK&VEN_X\1)", false}}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(isUsbDeviceInstance(id), device);
    }
}

// The system kept awake while a command holds the inhibitor, and let sleep after. Windows
// answers a change of the thread's execution state with the state it replaces.
TEST(ExecutionState, SystemRequiredWhileHeldContinuousAloneAfter) {
    const auto now = [] {
        const EXECUTION_STATE state = ::SetThreadExecutionState(ES_CONTINUOUS);
        return ::SetThreadExecutionState(state), state;
    };
    const auto inhibitor = makeSystemInhibitor();
    ASSERT_TRUE(inhibitor->hold());
    EXPECT_EQ(now(), ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    inhibitor->release();
    EXPECT_EQ(now(), ES_CONTINUOUS);
}

TEST(WindowsClock, PausesLastWhatWasAskedLessTheTimersDisagreementWithTheCounterEitherWay) {
    for (const auto method :
         {WindowsClock::Method::RaisedTimerResolution, WindowsClock::Method::HighResolutionTimer}) {
        WindowsClock clock(method);
        for (const int ms : {20, 1, 0, -5}) {
            const std::int64_t startUs = WindowsClock::nowUs(), startMs = clock.nowMs();
            clock.sleep(ms);
            EXPECT_GE(WindowsClock::nowUs() - startUs, std::max(ms, 0) * 1000 - 500) << ms;
            EXPECT_GE(clock.nowMs() - startMs, std::max(ms, 0) - 1) << ms;
        }
    }
}

// A copy of this program in a directory of non-ASCII name finds it there, from a first buffer
// of one character; the backend opens the copy by its UTF-8 path and says why others fail.
TEST(NonAsciiPaths, TheProgramFindsItsDirectoryAndTheBackendOpensThem) {
    if (const wchar_t* expected = _wgetenv(L"QUORVANE_EXPECTED_DIRECTORY")) { // in the copy
        EXPECT_EQ(executableDirectory(1), expected);
        return;
    }
    TempDir temp;
    const auto dir = temp.path() / L"gr\u00fc\u00df \u30d5 \U0001F50C";
    const auto copy = dir / "q.exe";
    const std::string dir8 = *utf8FromWide(dir.native());
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(*executableDirectory() + L"\\windows_test.exe", copy);
    _wputenv_s(L"QUORVANE_EXPECTED_DIRECTORY", dir.c_str());
    EXPECT_EQ(_wspawnl(_P_WAIT, copy.c_str(), L"copy", L"--gtest_filter=NonAscii*", nullptr), 0);
    _wputenv_s(L"QUORVANE_EXPECTED_DIRECTORY", L"");
    WindowsPlatform platform;
    EXPECT_TRUE(platform.close(platform.open(dir8 + "\\q.exe", OpenMode::Overlapped).handle));
    EXPECT_EQ(platform.open(dir8, OpenMode::Plain).error, OpenError::AccessDenied);
    EXPECT_EQ(platform.open(dir8 + "\\absent", OpenMode::Plain).error, OpenError::NotFound);
}

// quorvane-cli's arguments as Windows hands them over (UTF-16), converted once: an image named
// cafe with an accent in a Chinese folder, read by its wide name (an unreadable image ends the
// update before anything is sent, with another status).
class CliArguments : public TarvexFixture {};

TEST_F(CliArguments, ReachTheCommandsAsUtf8AndTheImageThroughTheWideApi) {
    TempDir temp;
    const auto folder = temp.path() / L"\u6570\u636e";
    std::filesystem::create_directories(folder);
    writeFile(folder / L"caf\u00e9.bin", imageBytes(2 * RecordSize));
    api.tarvex().config().expectedRecords = 2;
    const std::wstring line =
        L"quorvane-cli.exe update --image \"" + folder.native() + L"\\caf\u00e9.bin\" --json";
    const std::vector<std::string> args = argumentsOfCommandLine(line.c_str());
    ASSERT_EQ(args.size(), 4U);
    EXPECT_EQ(args[2], *utf8FromWide(folder.native()) + "\\caf\xC3\xA9.bin");
    std::ostringstream out, err;
    std::atomic<bool> stop{false};
    CliEnvironment env{api, out, err, false, nullptr, folder / "history.jsonl", {}, &stop};
    EXPECT_EQ(runCli(args, env), 0) << err.str();
    EXPECT_EQ(nlohmann::json::parse(out.str())["image"]["path"], args[2]);
}

// The program itself, copied into a Chinese folder: its argument (a serial number Zoe with a
// diaeresis) arrives whole, and its output is UTF-8 (no Tarvex here: status 2).
TEST(CliProgram, TakesItsArgumentsInUtf16AndWritesUtf8) {
    TempDir temp;
    const auto folder = temp.path() / L"\u6570\u636e";
    std::filesystem::create_directories(folder);
    const auto program = folder / L"quorvane-cli.exe";
    std::filesystem::copy_file(*executableDirectory() + L"\\..\\..\\cli\\quorvane-cli.exe",
                               program);
    // Through the command interpreter, which takes the line's outer quotes off.
    FILE* out = _wpopen(
        (L"\"\"" + program.native() + L"\" bootloader --serial Zo\u00eb --json\"").c_str(), L"rb");
    ASSERT_NE(out, nullptr);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;)
        text += static_cast<char>(c);
    const int status = _pclose(out);
    EXPECT_EQ(status, 2) << text;
    EXPECT_NE(text.find("\"No Tarvex with the serial number \\\"Zo\xC3\xAB\\\" is connected.\""),
              std::string::npos)
        << text;
}

TEST(VersionResource, NamesTheProgramAndItsVersionInUsEnglishUnicode) {
    const std::wstring self = *executableDirectory() + L"\\windows_test.exe";
    std::vector<char> data(GetFileVersionInfoSizeW(self.c_str(), nullptr));
    ASSERT_TRUE(GetFileVersionInfoW(self.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    const auto block = [&](const std::wstring& key, void* found = nullptr, UINT size = 0) {
        return VerQueryValueW(data.data(), key.c_str(), &found, &size) ? found : nullptr;
    };
    const std::wstring strings = L"\\StringFileInfo\\040904B0\\"; // U.S. English, Unicode
    for (const auto& [name, value] : {std::pair{L"FileDescription", L"Tarvex firmware update"},
                                      {L"ProductVersion", L"" QUORVANE_DISPLAY_VERSION}})
        EXPECT_STREQ(static_cast<const wchar_t*>(block(strings + name)), value);
    unsigned v[3] = {};
    ASSERT_EQ(std::sscanf(QUORVANE_DISPLAY_VERSION, "%u.%u.%u", &v[0], &v[1], &v[2]), 3);
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, v[0] << 16 | v[1]);
    EXPECT_EQ(fixed->dwFileVersionLS, v[2]);
}

TEST(ProgramIcon, IsTheFirstIconGroupWithSixteenColourImagesOfBothSizes) {
    const auto* group = static_cast<const BYTE*>(LockResource(
        LoadResource(nullptr, FindResource(nullptr, MAKEINTRESOURCE(1), RT_GROUP_ICON))));
    ASSERT_EQ(group ? group[4] : 0, 2); // images, then 14 bytes each: width, height, colours, ...
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(std::vector<int>(group + 6 + 14 * i, group + 9 + 14 * i),
                  (std::vector<int>{16 << i, 16 << i, 16}));
}

} // namespace quorvane::test
