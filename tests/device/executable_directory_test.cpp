// The executable's directory as the platform reports it, and the image path built from it.
#include "executable_directory.h"

#include "firmware_image.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace quorvane::test {
namespace {

TEST(ExecutableDirectory, WindowsDirectoryIsEverythingBeforeTheLastBackslash) {
    EXPECT_EQ(directoryOfModulePath(L"C:\\Program Files\\Quorvane\\quorvane.exe"),
              L"C:\\Program Files\\Quorvane");
    EXPECT_EQ(directoryOfModulePath(L"\\\\server\\share\\tools\\quorvane.exe"),
              L"\\\\server\\share\\tools");
    EXPECT_EQ(directoryOfModulePath(L"\\\\?\\D:\\very\\long\\quorvane.exe"),
              L"\\\\?\\D:\\very\\long");
    // A slash is an ordinary character of a name here; only the backslash separates.
    EXPECT_EQ(directoryOfModulePath(L"C:\\a/b\\quorvane.exe"), L"C:\\a/b");
    EXPECT_EQ(directoryOfModulePath(L"quorvane.exe"), L"");
}

TEST(ExecutableDirectory, NonAsciiDirectoryNamesAreKeptAsTheyAre) {
    EXPECT_EQ(
        directoryOfModulePath(L"E:\\Pr\u00fcfung\\\u30d5\u30a1\u30fc\u30e0 \U0001F50C\\q.exe"),
        L"E:\\Pr\u00fcfung\\\u30d5\u30a1\u30fc\u30e0 \U0001F50C");
}

TEST(ExecutableDirectory, ADriveRootKeepsItsBackslash) {
    EXPECT_EQ(directoryOfModulePath(L"C:\\quorvane.exe"), L"C:\\");
    EXPECT_EQ(directoryOfModulePath(L"z:\\quorvane.exe"), L"z:\\");
    EXPECT_EQ(directoryOfModulePath(L"\\\\?\\C:\\quorvane.exe"), L"\\\\?\\C:\\");
    // Not drives: a one-letter directory, a name with a colon further in.
    EXPECT_EQ(directoryOfModulePath(L"C:\\D\\quorvane.exe"), L"C:\\D");
    EXPECT_EQ(directoryOfModulePath(L"\\\\?\\CC:\\quorvane.exe"), L"\\\\?\\CC:");
}

TEST(ExecutableDirectory, PosixDirectoryIsEverythingBeforeTheLastSlash) {
    EXPECT_EQ(directoryOfExecutablePath("/usr/local/bin/quorvane"), "/usr/local/bin");
    EXPECT_EQ(directoryOfExecutablePath("/quorvane"), "/");
    EXPECT_EQ(directoryOfExecutablePath("/opt/Pr\xC3\xBC"
                                        "fung/quorvane"),
              "/opt/Pr\xC3\xBC"
              "fung");
    EXPECT_EQ(directoryOfExecutablePath("quorvane"), "");
}

#if defined(_WIN32)
TEST(ExecutableDirectory, TheImageIsTheDirectoryFollowedByTheFileName) {
    EXPECT_EQ(
        firmwareImagePath(directoryOfModulePath(L"C:\\Tools\\Pr\u00fcfung\\quorvane.exe")).native(),
        L"C:\\Tools\\Pr\u00fcfung\\quorvane.bin");
    // A root directory as reported, then the separator of the file name: two in a row.
    EXPECT_EQ(firmwareImagePath(directoryOfModulePath(L"C:\\quorvane.exe")).native(),
              L"C:\\\\quorvane.bin");
}
#endif

#if defined(_WIN32) || defined(__linux__)
TEST(ExecutableDirectory, TheRunningProgramLivesInTheReportedDirectory) {
    const auto directory = executableDirectory();
    ASSERT_TRUE(directory.has_value());
    const std::filesystem::path dir(*directory);
    EXPECT_TRUE(dir.is_absolute());
    EXPECT_TRUE(std::filesystem::is_directory(dir));
    // A buffer too small at first grows until the whole path fits.
    for (std::size_t first : {1U, 2U, 7U, 40U})
        EXPECT_EQ(executableDirectory(first), directory) << first;
#if defined(_WIN32)
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "executable_directory_test.exe"));
    EXPECT_NE(directory->back(), L'\\') << "only a root ends in a separator";
#else
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "executable_directory_test"));
#endif
}
#endif

} // namespace
} // namespace quorvane::test
