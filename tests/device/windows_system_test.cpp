// The Windows backend, its clock and its text conversion on the running system (Windows, or
// Wine in CI), and the executable's directory found from directories with awkward names.
#include "executable_directory.h"
#include "temp_dir.h"
#include "windows_clock.h"
#include "windows_platform.h"
#include "windows_text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

TEST(WindowsText, ConvertsBetweenUtf8AndUtf16AndRefusesWhatTheOtherSideCannotCarry) {
    const std::wstring wide = L"Pr\u00fcfung \u30d5\u30a1\u30fc\u30e0 \U0001F50C";
    const std::string narrow =
        "Pr\xC3\xBC"
        "fung \xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC\xE3\x83\xA0 \xF0\x9F\x94\x8C";
    EXPECT_EQ(utf8FromWide(wide), narrow);
    EXPECT_EQ(wideFromUtf8(narrow), wide);
    EXPECT_EQ(wideFromUtf8(""), std::wstring());
    EXPECT_EQ(utf8FromWide(L""), std::string());
    EXPECT_FALSE(wideFromUtf8("\xC3(").has_value());        // a cut sequence
    EXPECT_FALSE(wideFromUtf8("\xED\xA0\x80").has_value()); // an encoded surrogate
    EXPECT_FALSE(utf8FromWide(std::wstring(1, static_cast<wchar_t>(0xD800))).has_value());
}

TEST(WindowsSystem, EveryInterfaceThatOpensAnswersItsQueries) {
    WindowsPlatform platform;
    int answered = 0;
    int named = 0;
    for (const std::string& path : platform.enumerateInterfaces()) {
        const OpenResult plain = platform.open(path, OpenMode::Plain);
        if (plain.handle == 0) {
            // Windows keeps keyboards and mice to itself; a refusal comes with its reason.
            EXPECT_NE(plain.error, OpenError::None) << path;
            continue;
        }
        HidAttributes attributes;
        HidCapabilities caps;
        EXPECT_TRUE(platform.getAttributes(plain.handle, attributes)) << path;
        EXPECT_TRUE(platform.getCapabilities(plain.handle, caps)) << path;
        const OpenResult overlapped = platform.open(path, OpenMode::Overlapped);
        EXPECT_NE(overlapped.handle, 0U) << path;
        std::uint8_t text[101] = {};
        // Not every interface has every string; a query answers within the bytes given.
        if (platform.getString(overlapped.handle, StringKind::Product, text, 100) && text[0] != 0)
            ++named;
        EXPECT_EQ(text[100], 0);
        EXPECT_TRUE(platform.close(overlapped.handle));
        EXPECT_TRUE(platform.close(plain.handle));
        ++answered;
    }
    if (answered == 0)
        GTEST_SKIP() << "no HID interface here can be opened for reading and writing";
    EXPECT_GT(named, 0) << "no interface told its product name";
}

std::string utf8(const fs::path& path) {
    return utf8FromWide(path.native()).value_or(std::string());
}

// Runs `exe` and returns what it wrote to its standard output, as UTF-16.
std::wstring runAndRead(const fs::path& exe) {
    FILE* out = _wpopen((L"\"" + exe.native() + L"\"").c_str(), L"rb");
    if (out == nullptr)
        return L"<not started>";
    std::wstring text;
    for (wchar_t c = 0; std::fread(&c, sizeof c, 1, out) == 1;)
        text += c;
    const int status = _pclose(out);
    return status == 0 ? text : L"<exit " + std::to_wstring(status) + L">";
}

// A directory with a non-ASCII name, in a temporary directory of the test's own.
class WindowsFiles : public ::testing::Test {
protected:
    WindowsFiles() { fs::create_directories(dir); }

    static fs::path directoryProbe() {
        const auto here = executableDirectory();
        return here ? fs::path(*here) / L"print_executable_directory.exe" : fs::path();
    }

    TempDir temp;
    const fs::path dir = temp.path() / L"quorvane Pr\u00fcfung \u30d5\u30a1\u30fc\u30e0 \u03a9";
};

TEST_F(WindowsFiles, OpensANonAsciiPathGivenAsUtf8AndSaysWhyOthersDoNotOpen) {
    const fs::path file = dir / L"Ger\u00e4t \u30c7\u30d0\u30a4\u30b9.bin";
    const HANDLE h =
        CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, {});
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    WindowsPlatform platform;
    const OpenResult opened = platform.open(utf8(file), OpenMode::Plain);
    ASSERT_NE(opened.handle, 0U);
    EXPECT_EQ(opened.error, OpenError::None);
    const OpenResult overlapped = platform.open(utf8(file), OpenMode::Overlapped);
    ASSERT_NE(overlapped.handle, 0U); // shared for reading and writing
    // A file is no HID interface: it has no HID attributes.
    HidAttributes attributes;
    EXPECT_FALSE(platform.getAttributes(opened.handle, attributes));
    EXPECT_TRUE(platform.close(opened.handle));
    EXPECT_FALSE(platform.close(opened.handle));
    EXPECT_TRUE(platform.close(overlapped.handle));

    const OpenResult missing = platform.open(utf8(dir / L"absent"), OpenMode::Plain);
    EXPECT_EQ(missing.handle, 0U);
    EXPECT_EQ(missing.error, OpenError::NotFound);
    EXPECT_EQ(platform
                  .open("\\\\?\\hid#vid_0000&pid_0000#none#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                        OpenMode::Plain)
                  .handle,
              0U);
    const OpenResult directory = platform.open(utf8(dir), OpenMode::Plain);
    EXPECT_EQ(directory.handle, 0U);
    EXPECT_EQ(directory.error, OpenError::AccessDenied);
}

TEST_F(WindowsFiles, FindsItsDirectoryUnderANonAsciiName) {
    const fs::path copy = dir / L"quorvane \u00e9t\u00e9.exe";
    ASSERT_TRUE(CopyFileW(directoryProbe().c_str(), copy.c_str(), TRUE))
        << "cannot copy " << utf8(directoryProbe());
    EXPECT_EQ(runAndRead(copy), dir.native() + L"\n" + dir.native() + L"\\quorvane.bin");
}

TEST_F(WindowsFiles, FromADriveRootTheImagePathHoldsTwoSeparators) {
    wchar_t windowsDirectory[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windowsDirectory, MAX_PATH), 2U);
    const std::wstring root = std::wstring(windowsDirectory, 2) + L"\\";
    const fs::path copy =
        root + L"quorvane-probe-" + std::to_wstring(std::random_device()()) + L".exe";
    if (!CopyFileW(directoryProbe().c_str(), copy.c_str(), TRUE))
        GTEST_SKIP() << "the root of the system drive cannot be written here";
    const std::wstring out = runAndRead(copy);
    DeleteFileW(copy.c_str());
    EXPECT_EQ(out, root + L"\n" + root + L"\\quorvane.bin");
}

// Pauses are never shorter than asked, whichever way the clock waits. How close they come to
// their length is the sleep benchmark's business (tools/), not a test's.
TEST(WindowsClock, PausesAreNeverShorterThanAskedWithEitherMethod) {
    const auto expectPausesNeverShort = [](WindowsClock& clock) {
        for (int i = 0; i < 5; ++i) {
            const std::int64_t start = WindowsClock::nowUs();
            clock.sleep(20);
            // The timer and the performance counter may disagree by a fraction of a millisecond.
            EXPECT_GE(WindowsClock::nowUs() - start, 19500);
        }
    };
    WindowsClock raised(WindowsClock::Method::RaisedTimerResolution);
    EXPECT_EQ(raised.method(), WindowsClock::Method::RaisedTimerResolution);
    expectPausesNeverShort(raised);
    WindowsClock timer(WindowsClock::Method::HighResolutionTimer);
    if (timer.method() == WindowsClock::Method::HighResolutionTimer)
        expectPausesNeverShort(timer);
}

TEST(WindowsClock, MillisecondsAdvanceWithThePauses) {
    WindowsClock clock;
    const std::int64_t start = clock.nowMs();
    clock.sleep(30);
    const std::int64_t after = clock.nowMs();
    EXPECT_GE(after - start, 29);
    EXPECT_LT(after - start, 1000);
    const std::int64_t startUs = WindowsClock::nowUs();
    clock.sleep(0);
    clock.sleep(-5);
    EXPECT_LT(WindowsClock::nowUs() - startUs, 5000); // no pause for nothing
}

} // namespace
} // namespace quorvane::test
