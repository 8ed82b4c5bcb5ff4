// The four value fields: the device's strings as it spells them, and its version.
#include "device_info.h"
#include "executable_directory.h"
#include "firmware_image.h"
#include "tarvex_fixture.h"

namespace quorvane::test {
namespace {

TEST(DeviceInfoText, VersionAndUtf16Decoding) {
    EXPECT_EQ(versionText(0x0A0B), u"10.B");
    // U+0100 has a zero low byte and must not end the text; pairs stay, lone halves become
    // U+FFFD, a pair cut by the buffer's end too; at most 50 code units. Then as UTF-8.
    struct Case {
        std::u16string in, out;
        std::string utf8;
    };
    for (const Case& c :
         {Case{u"\U0001F50C\u0100d\u00e9", u"\U0001F50C\u0100d\u00e9", "\U0001F50C\u0100d\u00e9"},
          Case{u"a\xD800z\xDC00\u0080\u07FF\u0800\uFFFF", u"a\uFFFDz\uFFFD\u0080\u07FF\u0800\uFFFF",
               "a\uFFFDz\uFFFD\u0080\u07FF\u0800\uFFFF"},
          Case{std::u16string(60, u'x'), std::u16string(50, u'x'), std::string(50, 'x')},
          Case{std::u16string(49, u'y') + u"\U0010FFFF", std::u16string(49, u'y') + u"\uFFFD",
               std::string(49, 'y') + "\uFFFD"}}) {
        std::vector<std::uint8_t> b(102, 0x78); // never read past the 100 bytes given
        for (std::size_t i = 0; i < 50; ++i)
            b[2 * i] = static_cast<std::uint8_t>(i < c.in.size() ? c.in[i] : 0),
                  b[2 * i + 1] = i < c.in.size() ? c.in[i] >> 8 : 0;
        EXPECT_EQ(deviceStringText(b.data(), 100), c.out);
        EXPECT_EQ(utf8Text(c.out), c.utf8);
    }
    EXPECT_EQ(utf8Text(u"\xDC00\xDC00\U00010000\xD800"), "\uFFFD\uFFFD\U00010000\uFFFD");
}

using DeviceInfoTest = TarvexFixture;

TEST_F(DeviceInfoTest, FieldsFromTheOverlappedHandleAFailedStringLeavesItsFieldAsItWas) {
    api.tarvex().config().application.product = std::u16string(60, u'P');
    auto show = [this, x = ctx()]() mutable { // as load(), keeping the log
        closeHandles(), api.clearLog(), FindAndShowDevice(x);
    };
    ASSERT_TRUE(load());
    const std::map<InfoLabel, std::string> shown = {{InfoLabel::Manufacturer, "Tarvex Devices"},
                                                    {InfoLabel::Product, std::string(50, 'P')},
                                                    {InfoLabel::SerialNumber, "TX-000417"},
                                                    {InfoLabel::Version, "2.13"}};
    EXPECT_EQ(window.labels, shown);
    for (bool TarvexFaults::*fault :
         {&TarvexFaults::failManufacturer, &TarvexFaults::failProduct,
          &TarvexFaults::failSerialNumber, &TarvexFaults::failOverlappedOpen}) {
        restartedInto(TarvexMode::Bootloader);
        api.tarvex().config().faults = {};
        api.tarvex().config().faults.*fault = true;
        show();
        const bool all = fault == &TarvexFaults::failOverlappedOpen; // still found, nothing read
        EXPECT_EQ(calls(CallKind::GetString).size(), all ? 0U : 3U);
        for (const auto& r : calls(CallKind::GetString))
            EXPECT_TRUE(r.handle == state.OverlappedHandle.raw() && r.length == 100U);
        const bool m = fault == &TarvexFaults::failManufacturer; // the version goes with it
        EXPECT_EQ(window.label(InfoLabel::Version), m || all ? "2.13" : "1.0");
        EXPECT_EQ(window.label(InfoLabel::Product) == std::string(50, 'P'),
                  all || fault == &TarvexFaults::failProduct);
        EXPECT_EQ(window.label(InfoLabel::Manufacturer), "Tarvex Devices");
        EXPECT_EQ(window.label(InfoLabel::SerialNumber), "TX-000417");
        restartedInto(TarvexMode::Application);
        api.tarvex().config().faults = {};
        load();
    }
    api.tarvexAttached = false; // no device: every field cleared, no call but the enumeration
    show();
    EXPECT_EQ(api.log().size(), 1U);
    for (const auto& [which, text] : window.labels)
        EXPECT_EQ(text, "");
    expectHandlesBalanced();
}

// The executable's directory as the platform reports it, and the image path built from it.
TEST(ExecutableDirectory, EverythingBeforeTheLastSeparatorADriveRootKeepsItsBackslash) {
    for (const auto& [path, dir] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"C:\\Program Files\\Q\\q.exe", L"C:\\Program Files\\Q"},
             {L"\\\\server\\share\\q.exe", L"\\\\server\\share"},
             {L"C:\\a/b\\q.exe", L"C:\\a/b"}, // a slash is an ordinary character here
             {L"A:\\q.exe", L"A:\\"},
             {L"z:\\q.exe", L"z:\\"},
             {L"\\\\?\\C:\\q.exe", L"\\\\?\\C:\\"},
             {L"\\\\.\\d:\\q.exe", L"\\\\.\\d:\\"},
             {L"\\\\?\\CC:\\q.exe", L"\\\\?\\CC:"},
             {L"q.exe", L""}})
        EXPECT_EQ(directoryOfModulePath(path), dir);
    EXPECT_EQ(directoryOfExecutablePath("/usr/bin/quorvane"), "/usr/bin");
    EXPECT_EQ(directoryOfExecutablePath("/quorvane"), "/");
    EXPECT_EQ(directoryOfExecutablePath("quorvane"), "");
#ifdef _WIN32 // the root as reported, then the file name's separator: two in a row
    EXPECT_EQ(firmwareImagePath(L"C:\\").native(), L"C:\\\\quorvane.bin");
#else
    EXPECT_EQ(firmwareImagePath("/").native(), "//quorvane.bin");
#endif
}

#if defined(_WIN32) || defined(__linux__)
TEST(ExecutableDirectory, ABufferTooSmallAtFirstGrowsUntilTheWholePathFits) {
    const auto directory = executableDirectory();
    ASSERT_TRUE(directory.has_value());
    const std::filesystem::path dir(*directory);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "device_test") ||
                std::filesystem::is_regular_file(dir / "device_test.exe"));
    for (std::size_t first : {1U, 2U, 7U, 40U})
        EXPECT_EQ(executableDirectory(first), directory) << first;
}
#endif

} // namespace
} // namespace quorvane::test
