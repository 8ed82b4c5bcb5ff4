// The four value fields: the device's strings as it spells them, and its version.
#include "device_info.h"
#include "executable_directory.h"
#include "firmware_image.h"
#include "tarvex_fixture.h"

namespace quorvane::test {
namespace {

TEST(DeviceInfoText, VersionIsTheHighByteInDecimalAndTheLowInUpperCaseHexadecimal) {
    EXPECT_EQ(versionText(0x0A0B), u"10.B");
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
