// The report-descriptor parser on the fuzzer's example descriptors, and what they do not cover.
#include "report_descriptor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace quorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<std::uint16_t> parse(const Bytes& bytes) {
    return parseFeatureReportByteLength(bytes).featureReportByteLength;
}

TEST(ReportDescriptor, CorpusLongestFeatureReportAndEveryCutInsideAnItemRefused) {
    for (const auto& [file, length] : std::vector<std::pair<const char*, int>>{
             {"vendor_feature_64", 65},     // the Tarvex in either firmware
             {"report_id_features", 33},    // the longest report counts, not their sum or the last
             {"keyboard_with_feature", 17}, // longer input and output reports do not count
             {"mouse_no_feature", 0},
             {"push_pop", 17},
             {"long_item", 65}}) { // its data, read as short items, would declare 127 bytes
        std::ifstream in(std::string(QUORVANE_CORPUS_DIR "/") + file + ".bin", std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(parse(bytes), length) << file;
        std::vector<bool> boundary(bytes.size() + 1); // items: 0, 1, 2 or 4 data bytes; long ones
        for (std::size_t at = 0; at < bytes.size();
             at +=
             bytes[at] == 0xFE ? 3 + bytes[at + 1] : 1 + (bytes[at] & 3) + (bytes[at] & 3) / 3)
            boundary[at] = true;
        boundary.back() = true;
        for (std::size_t cut = 0; cut < bytes.size(); ++cut)
            EXPECT_EQ(parse(Bytes(bytes.begin(), bytes.begin() + cut)).has_value(), boundary[cut])
                << file << " cut at " << cut;
    }
}

// In order: report 1 again counts once, 19 bits take 3 bytes, a report of no bits only its ID
// byte, one global level popped at a time, long items skipped whole.
TEST(ReportDescriptor, WhatTheCorpusDoesNotShow) {
    Bytes deep(MaxGlobalStackDepth, 0xA4), many = {0x75, 0x08, 0x96, 0x00, 0x10}, split = many;
    for (std::uint8_t i = 0; i < 16; ++i) // 16 items of 4096 bytes: too long in one report
        many.insert(many.end(), {0xB1, 0x02}),
            split.insert(split.end(), {0x85, static_cast<std::uint8_t>(1 + i % 2), 0xB1, 0x02});
    const std::optional<std::uint16_t> refused;
    for (const auto& [bytes, length] : std::vector<std::pair<Bytes, std::optional<std::uint16_t>>>{
             {{0x85, 1,  0x75, 8, 0x95, 8, 0xB1, 2,  0x85, 2,
               0x95, 16, 0xB1, 2, 0x85, 1, 0x95, 30, 0xB1, 2},
              39},
             {{0x85, 7, 0x75, 1, 0x95, 3, 0xB1, 2, 0x75, 8, 0x95, 2, 0xB1, 2}, 4},
             {{0x75, 8, 0x95, 0, 0xB1, 2}, 1},
             {{0x75, 8, 0x95, 2, 0xA4, 0x95, 32, 0xA4, 0x95, 64, 0xB4, 0xB1, 2}, 33},
             {{0xFE, 0, 0x20, 0x75, 8, 0x95, 64, 0xB1, 2, 0xFE, 2, 0x10, 0x95, 0x7F}, 65},
             {{0x75, 8, 0x96, 0xFE, 0xFF, 0xB1, 2}, 65535},
             {{0x75, 8, 0x96, 0xFE, 0xFF, 0xB1, 2, 0x75, 1, 0x95, 1, 0xB1, 2}, refused},
             {{0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0xB1, 2}, refused},
             {many, refused},
             {split, 8 * 4096 + 1},
             {deep, 0},
             {{0xA4, 0xB4, 0xB4}, refused},
             {{0x85, 0}, refused},
             {{0x86, 0, 1}, refused},
             {{0x86, 0xFF, 0, 0x75, 8, 0x95, 2, 0xB1, 2}, 3}})
        EXPECT_EQ(parse(bytes), length) << ::testing::PrintToString(bytes);
    deep.push_back(0xA4);
    EXPECT_FALSE(parseFeatureReportByteLength(deep).error.empty());
    EXPECT_NE(parseFeatureReportByteLength(Bytes{0x75, 8, 0x06, 0}).error.find("byte 2"),
              std::string::npos);
}

} // namespace
} // namespace quorvane
