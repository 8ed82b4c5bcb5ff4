// The executable's directory as the platform reports it, and the image path built from it.
#include "executable_directory.h"
#include "firmware_image.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(ExecutableDirectory, EverythingBeforeTheLastSeparatorADriveRootKeepsItsBackslash) {
    for (const auto& [path, dir] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"C:\\Program Files\\Q\\q.exe", L"C:\\Program Files\\Q"},
             {L"\\\\server\\share\\q.exe", L"\\\\server\\share"},
             {L"C:\\a/b\\q.exe", L"C:\\a/b"}, // a slash is an ordinary character here
             {L"C:\\q.exe", L"C:\\"},
             {L"z:\\q.exe", L"z:\\"},
             {L"\\\\?\\C:\\q.exe", L"\\\\?\\C:\\"},
             {L"\\\\.\\d:\\q.exe", L"\\\\.\\d:\\"},
             {L"\\\\?\\CC:\\q.exe", L"\\\\?\\CC:"},
             {L"q.exe", L""}})
        EXPECT_EQ(directoryOfModulePath(path), dir);
    EXPECT_EQ(directoryOfExecutablePath("/usr/bin/quorvane"), "/usr/bin");
    EXPECT_EQ(directoryOfExecutablePath("/opt/Pr\xC3\xBC/q"), "/opt/Pr\xC3\xBC");
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
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "executable_directory_test") ||
                std::filesystem::is_regular_file(dir / "executable_directory_test.exe"));
    for (std::size_t first : {1U, 2U, 7U, 40U})
        EXPECT_EQ(executableDirectory(first), directory) << first;
}
#endif

} // namespace
} // namespace quorvane
