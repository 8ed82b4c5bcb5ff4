#include "command_reports.h"

#include "tarvex_protocol.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(CommandReports, LengthsTooShortForTheContentAreRefused) {
    const std::pair<ReportKind, std::size_t> needs[] = {{ReportKind::BootloaderEntry, 4},
                                                        {ReportKind::Status, 3},
                                                        {ReportKind::Unlock, 9},
                                                        {ReportKind::Data, 41}};
    for (auto [kind, needed] : needs) {
        EXPECT_FALSE(refuseReportLength(kind, needed)) << needed;
        EXPECT_FALSE(refuseReportLength(kind, 5000)) << needed;
        auto refused = refuseReportLength(kind, needed - 1);
        ASSERT_TRUE(refused) << needed;
        EXPECT_NE(refused->find(std::to_string(needed) + " bytes"), std::string::npos) << *refused;
        EXPECT_TRUE(refuseReportLength(kind, 0));
    }
}

TEST(CommandReports, BuffersGrowToLongReportsAndStayZeroFilled) {
    EXPECT_EQ(makeReportBuffer(ReportBufferSize, 65).size(), 101U);
    EXPECT_EQ(makeReportBuffer(ReportBufferSize, 300).size(), 300U);
    EXPECT_EQ(makeReportBuffer(CommandBufferSize, 1500).size(), 1500U);
    auto b = makeReportBuffer(CommandBufferSize, 1500);
    EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](auto x) { return x == 0; }));
}

TEST(CommandReports, UnlockAfterEntryInTheSameBufferCarriesNoRemnant) {
    std::vector<std::uint8_t> buffer(CommandBufferSize, 0xEE);
    buildBootloaderEntryReport(buffer);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_TRUE(std::equal(EnterBootloaderCode.begin(), EnterBootloaderCode.end(), &buffer[1]));
    EXPECT_TRUE(std::all_of(buffer.begin() + 4, buffer.end(), [](auto x) { return x == 0; }));
    buildUnlockReport(buffer);
    std::vector<std::uint8_t> expected(CommandBufferSize, 0);
    std::copy(UnlockCode.begin(), UnlockCode.end(), expected.begin() + 1);
    EXPECT_EQ(buffer, expected);
}

TEST(CommandReports, DataReportCarriesTheRecordInOrderAndKeepsTheTailZero) {
    std::vector<std::uint8_t> buffer(65, 0);
    Record block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(0xA0 + i);
    buildDataReport(buffer, block);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 0xA0);
    EXPECT_EQ(buffer[40], 0xA0 + 39);
    EXPECT_TRUE(std::all_of(buffer.begin() + 41, buffer.end(), [](auto x) { return x == 0; }));
}

TEST(CommandReports, EitherStatusByteAsksForTheUnlock) {
    std::vector<std::uint8_t> status(101, 0);
    EXPECT_FALSE(statusWantsUnlock(status));
    status[1] = 1;
    EXPECT_TRUE(statusWantsUnlock(status));
    status[1] = 0;
    status[2] = 0x80;
    EXPECT_TRUE(statusWantsUnlock(status));
    status[2] = 0;
    status[3] = 0xFF; // not a status byte
    EXPECT_FALSE(statusWantsUnlock(status));
}

} // namespace
} // namespace quorvane
