#include "firmware_image.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

TEST(FirmwareImagePath, DirectoryThenSeparatorThenNameWithNothingRemoved) {
#ifdef _WIN32
    EXPECT_EQ(firmwareImagePath(L"C:\\Tools").native(), L"C:\\Tools\\quorvane.bin");
    EXPECT_EQ(firmwareImagePath(L"C:\\").native(), L"C:\\\\quorvane.bin");
#else
    EXPECT_EQ(firmwareImagePath("/opt/quorvane").native(), "/opt/quorvane/quorvane.bin");
    EXPECT_EQ(firmwareImagePath("/").native(), "//quorvane.bin");
#endif
}

TEST(FirmwareImage, SizesGiveRecordsOrAPlainProblem) {
    TempDir dir;
    const fs::path image = dir.path() / "quorvane.bin";
    struct Case {
        std::size_t size;
        std::int64_t records;
        const char* problem; // a fragment of the sentence, or nullptr
    };
    const Case cases[] = {
        {0, 0, "is empty"},
        {39, 0, "not a whole number of 40-byte records"},
        {40, 1, nullptr},
        {79, 1, "79 bytes"},
        {80, 2, nullptr},
        {1310640, 32766, nullptr},
        {1310680, 32767, "too large: 32767 records, at most 32766"},
    };
    for (const Case& c : cases) {
        writeFile(image, imageBytes(c.size));
        for (const ImageCheck& check : {checkFirmwareImage(image), countFirmwareRecords(image)}) {
            if (c.problem) {
                ASSERT_TRUE(check.problem) << c.size;
                EXPECT_NE(check.problem->find(c.problem), std::string::npos) << *check.problem;
                EXPECT_NE(check.problem->find(displayPath(image)), std::string::npos);
            } else {
                EXPECT_FALSE(check.problem) << c.size << ": " << *check.problem;
                EXPECT_EQ(check.records, c.records);
            }
        }
    }
}

TEST(FirmwareImage, MissingFileOrDirectoryIsReportedAndNothingIsCreated) {
    TempDir dir;
    const fs::path image = dir.path() / "quorvane.bin";
    for (const ImageCheck& check : {checkFirmwareImage(image), countFirmwareRecords(image)}) {
        ASSERT_TRUE(check.problem);
        EXPECT_NE(check.problem->find("is missing"), std::string::npos);
    }
    FirmwareImageReader reader;
    EXPECT_FALSE(reader.open(image));
    EXPECT_FALSE(fs::exists(image));

    fs::create_directory(image);
    for (const ImageCheck& check : {checkFirmwareImage(image), countFirmwareRecords(image)}) {
        ASSERT_TRUE(check.problem);
        EXPECT_NE(check.problem->find("is not a file"), std::string::npos);
    }
    EXPECT_FALSE(reader.open(image));
}

TEST(FirmwareImage, ReaderDeliversFullRecordsInFileOrderAndFlagsATail) {
    TempDir dir;
    const fs::path image = dir.path() / "quorvane.bin";
    const auto bytes = imageBytes(3 * 40 + 7);
    writeFile(image, bytes);
    FirmwareImageReader reader;
    ASSERT_TRUE(reader.open(image));
    Record block{};
    for (int k = 0; k < 3; ++k) {
        ASSERT_TRUE(reader.readRecord(block));
        EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + 40L * k)) << k;
    }
    EXPECT_FALSE(reader.readRecord(block));
    EXPECT_EQ(reader.tailBytes(), 7U);
    EXPECT_FALSE(reader.readRecord(block));
    reader.close();
    EXPECT_FALSE(reader.isOpen());
}

} // namespace
} // namespace quorvane::test
