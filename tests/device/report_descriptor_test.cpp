#include "report_descriptor.h"
#include "wide_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
// A descriptor written one item per entry, so tests know where each item ends.
using Items = std::vector<Bytes>;

Bytes flatten(const Items& items) {
    Bytes bytes;
    for (const auto& item : items)
        bytes.insert(bytes.end(), item.begin(), item.end());
    return bytes;
}

FeatureLengthResult parse(const Bytes& bytes) {
    return parseFeatureReportByteLength(bytes);
}
FeatureLengthResult parse(const Items& items) {
    return parse(flatten(items));
}

// A vendor-defined interface with one 64-byte feature report and no report IDs, the shape of
// the Tarvex in either firmware.
const Items VendorFeature64 = {
    {0x06, 0x00, 0xFF}, // Usage Page (Vendor Defined 0xFF00)
    {0x09, 0x01},       // Usage (0x01)
    {0xA1, 0x01},       // Collection (Application)
    {0x15, 0x00},       //   Logical Minimum (0)
    {0x26, 0xFF, 0x00}, //   Logical Maximum (255)
    {0x75, 0x08},       //   Report Size (8)
    {0x95, 0x40},       //   Report Count (64)
    {0x09, 0x01},       //   Usage (0x01)
    {0xB1, 0x02},       //   Feature (Data, Var, Abs)
    {0xC0},             // End Collection
};

// Feature reports under three report IDs; report 2 is made of two items and is the longest.
const Items ReportIdFeatures = {
    {0x06, 0x00, 0xFF}, // Usage Page (Vendor Defined 0xFF00)
    {0x09, 0x01},       // Usage (0x01)
    {0xA1, 0x01},       // Collection (Application)
    {0x75, 0x08},       //   Report Size (8)
    {0x85, 0x01},       //   Report ID (1)
    {0x95, 0x08},       //   Report Count (8)
    {0x09, 0x02},       //   Usage (0x02)
    {0xB1, 0x02},       //   Feature (Data, Var, Abs)            -> report 1: 8 bytes
    {0x85, 0x02},       //   Report ID (2)
    {0x95, 0x10},       //   Report Count (16)
    {0x09, 0x03},       //   Usage (0x03)
    {0xB1, 0x02},       //   Feature (Data, Var, Abs)
    {0x09, 0x04},       //   Usage (0x04)
    {0xB1, 0x02},       //   Feature (Data, Var, Abs)            -> report 2: 32 bytes
    {0x85, 0x03},       //   Report ID (3)
    {0x75, 0x01},       //   Report Size (1)
    {0x95, 0x0C},       //   Report Count (12)
    {0x09, 0x05},       //   Usage (0x05)
    {0xB1, 0x02},       //   Feature (Data, Var, Abs)            -> report 3: 12 bits
    {0xC0},             // End Collection
};

// A keyboard with an LED output report, a large vendor input report and a small feature report
// (report IDs, 2- and 4-byte item data).
const Items KeyboardWithFeature = {
    {0x05, 0x01},                   // Usage Page (Generic Desktop)
    {0x09, 0x06},                   // Usage (Keyboard)
    {0xA1, 0x01},                   // Collection (Application)
    {0x85, 0x01},                   //   Report ID (1)
    {0x05, 0x07},                   //   Usage Page (Keyboard)
    {0x19, 0xE0},                   //   Usage Minimum (0xE0)
    {0x29, 0xE7},                   //   Usage Maximum (0xE7)
    {0x75, 0x01},                   //   Report Size (1)
    {0x95, 0x08},                   //   Report Count (8)
    {0x81, 0x02},                   //   Input (Data, Var, Abs)      modifiers
    {0x75, 0x08},                   //   Report Size (8)
    {0x95, 0x06},                   //   Report Count (6)
    {0x81, 0x00},                   //   Input (Data, Array)         keys
    {0x05, 0x08},                   //   Usage Page (LEDs)
    {0x75, 0x01},                   //   Report Size (1)
    {0x95, 0x05},                   //   Report Count (5)
    {0x91, 0x02},                   //   Output (Data, Var, Abs)
    {0x95, 0x03},                   //   Report Count (3)
    {0x91, 0x01},                   //   Output (Const)               padding
    {0x06, 0x00, 0xFF},             //   Usage Page (Vendor Defined 0xFF00)
    {0x85, 0x02},                   //   Report ID (2)
    {0x75, 0x08},                   //   Report Size (8)
    {0x97, 0x00, 0x01, 0x00, 0x00}, //   Report Count (256), 4-byte data
    {0x09, 0x01},                   //   Usage (0x01)
    {0x81, 0x02},                   //   Input (Data, Var, Abs)      256 bytes
    {0x96, 0x00, 0x02},             //   Report Count (512), 2-byte data
    {0x09, 0x02},                   //   Usage (0x02)
    {0x91, 0x02},                   //   Output (Data, Var, Abs)     512 bytes
    {0x85, 0x03},                   //   Report ID (3)
    {0x95, 0x10},                   //   Report Count (16)
    {0x09, 0x03},                   //   Usage (0x03)
    {0xB1, 0x02},                   //   Feature (Data, Var, Abs)    16 bytes
    {0xC0},                         // End Collection
};

// A mouse: input reports only.
const Items MouseNoFeature = {
    {0x05, 0x01}, // Usage Page (Generic Desktop)
    {0x09, 0x02}, // Usage (Mouse)
    {0xA1, 0x01}, // Collection (Application)
    {0x09, 0x01}, //   Usage (Pointer)
    {0xA1, 0x00}, //   Collection (Physical)
    {0x05, 0x09}, //     Usage Page (Buttons)
    {0x19, 0x01}, //     Usage Minimum (1)
    {0x29, 0x03}, //     Usage Maximum (3)
    {0x15, 0x00}, //     Logical Minimum (0)
    {0x25, 0x01}, //     Logical Maximum (1)
    {0x95, 0x03}, //     Report Count (3)
    {0x75, 0x01}, //     Report Size (1)
    {0x81, 0x02}, //     Input (Data, Var, Abs)
    {0x95, 0x01}, //     Report Count (1)
    {0x75, 0x05}, //     Report Size (5)
    {0x81, 0x01}, //     Input (Const)
    {0x05, 0x01}, //     Usage Page (Generic Desktop)
    {0x09, 0x30}, //     Usage (X)
    {0x09, 0x31}, //     Usage (Y)
    {0x15, 0x81}, //     Logical Minimum (-127)
    {0x25, 0x7F}, //     Logical Maximum (127)
    {0x75, 0x08}, //     Report Size (8)
    {0x95, 0x02}, //     Report Count (2)
    {0x81, 0x06}, //     Input (Data, Var, Rel)
    {0xC0},       //   End Collection
    {0xC0},       // End Collection
};

// Push and Pop around a differently sized input item and a different report ID: the feature
// item after the Pop sees report 1 with 8-bit fields, 16 of them.
const Items PushPop = {
    {0x06, 0x00, 0xFF}, // Usage Page (Vendor Defined 0xFF00)
    {0x09, 0x01},       // Usage (0x01)
    {0xA1, 0x01},       // Collection (Application)
    {0x85, 0x01},       //   Report ID (1)
    {0x75, 0x08},       //   Report Size (8)
    {0x95, 0x10},       //   Report Count (16)
    {0xA4},             //   Push
    {0x85, 0x02},       //   Report ID (2)
    {0x75, 0x01},       //   Report Size (1)
    {0x95, 0x04},       //   Report Count (4)
    {0xB1, 0x02},       //   Feature (Data, Var, Abs)    report 2: 4 bits
    {0x81, 0x02},       //   Input (Data, Var, Abs)
    {0xB4},             //   Pop
    {0x09, 0x02},       //   Usage (0x02)
    {0xB1, 0x02},       //   Feature (Data, Var, Abs)    report 1: 16 bytes
    {0xC0},             // End Collection
};

// A long item whose data, read as short items, would declare a 127-byte feature report.
const Bytes DecoyLongItem = {0xFE, 0x04, 0x10, 0x95, 0x7F, 0xB1, 0x02};

TEST(ReportDescriptor, LongestFeatureReportPlusTheReportIdByte) {
    EXPECT_EQ(parse(VendorFeature64).featureReportByteLength, 65);
    // With report IDs the longest report counts, not their sum or the last one.
    EXPECT_EQ(parse(ReportIdFeatures).featureReportByteLength, 33);
    // Input and output reports longer than the feature report do not count.
    EXPECT_EQ(parse(KeyboardWithFeature).featureReportByteLength, 17);
}

TEST(ReportDescriptor, ReportsCollectTheirItemsByIdAndRoundUpToBytes) {
    // Report 1 comes back after report 2, so its items are not contiguous: 8 + 30 bytes.
    Items revisited = ReportIdFeatures;
    revisited.insert(revisited.end() - 1, {{0x85, 0x01}, {0x75, 0x08}, {0x95, 0x1E}, {0xB1, 0x02}});
    EXPECT_EQ(parse(revisited).featureReportByteLength, 39);

    // 3 one-bit fields and 2 bytes: 19 bits take 3 bytes.
    const Items bits = {{0x85, 0x07}, {0x75, 0x01}, {0x95, 0x03}, {0xB1, 0x02},
                        {0x75, 0x08}, {0x95, 0x02}, {0xB1, 0x02}};
    EXPECT_EQ(parse(bits).featureReportByteLength, 4);
}

TEST(ReportDescriptor, PopRestoresSizeCountAndReportId) {
    EXPECT_EQ(parse(PushPop).featureReportByteLength, 17);
    // Nested pushes unwind one level at a time.
    const Items nested = {{0x75, 0x08}, {0x95, 0x02}, {0xA4}, {0x95, 0x20},
                          {0xA4},       {0x95, 0x40}, {0xB4}, {0xB1, 0x02}};
    EXPECT_EQ(parse(nested).featureReportByteLength, 33);
}

TEST(ReportDescriptor, LongItemsAreSkippedWhole) {
    Bytes bytes = flatten(VendorFeature64);
    bytes.insert(bytes.begin() + 9, DecoyLongItem.begin(), DecoyLongItem.end());
    EXPECT_EQ(parse(bytes).featureReportByteLength, 65);
    // A long item without data, and one ending exactly at the end of the descriptor.
    Bytes edges = flatten(VendorFeature64);
    edges.insert(edges.begin(), {0xFE, 0x00, 0x20});
    edges.insert(edges.end(), DecoyLongItem.begin(), DecoyLongItem.end());
    EXPECT_EQ(parse(edges).featureReportByteLength, 65);
}

TEST(ReportDescriptor, NoFeatureReportGivesZero) {
    EXPECT_EQ(parse(MouseNoFeature).featureReportByteLength, 0);
    EXPECT_EQ(parse(Bytes{}).featureReportByteLength, 0);
    // A feature item of no bits still declares its report: only the ID byte is sent.
    EXPECT_EQ(parse(Items{{0x75, 0x08}, {0x95, 0x00}, {0xB1, 0x02}}).featureReportByteLength, 1);
}

TEST(ReportDescriptor, EveryCutInsideAnItemIsRefused) {
    for (const Items* items :
         {&VendorFeature64, &ReportIdFeatures, &KeyboardWithFeature, &MouseNoFeature, &PushPop}) {
        const Bytes bytes = flatten(*items);
        std::vector<bool> boundary(bytes.size() + 1, false);
        std::size_t end = 0;
        boundary[0] = true;
        for (const auto& item : *items)
            boundary[end += item.size()] = true;
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            // A Push left without its Pop (PushPop cut between them) is not an error.
            EXPECT_EQ(static_cast<bool>(parse(prefix)), boundary[cut]) << "cut at " << cut;
        }
    }
}

TEST(ReportDescriptor, TruncatedItemsFailWithTheirOffset) {
    const auto shortData = parse(Bytes{0x75, 0x08, 0x06, 0x00});
    EXPECT_FALSE(shortData);
    EXPECT_NE(shortData.error.find("byte 2"), std::string::npos) << shortData.error;
    EXPECT_FALSE(parse(Bytes{0x97, 0x00, 0x01, 0x00})); // 4-byte data, 3 present
    EXPECT_FALSE(parse(Bytes{0xFE}));                   // long item without its header
    EXPECT_FALSE(parse(Bytes{0xFE, 0x05}));
    EXPECT_FALSE(parse(Bytes{0xFE, 0x05, 0x10, 0x01, 0x02, 0x03, 0x04})); // one byte short
    EXPECT_FALSE(parse(Bytes{0xFE, 0xFF, 0x10}));
}

TEST(ReportDescriptor, GlobalStackMisuseFails) {
    EXPECT_FALSE(parse(Bytes{0x75, 0x08, 0xB4})); // pop without push
    EXPECT_FALSE(parse(Bytes{0xA4, 0xB4, 0xB4}));
    Bytes deepest(MaxGlobalStackDepth, 0xA4);
    EXPECT_TRUE(parse(deepest));
    deepest.push_back(0xA4);
    const auto tooDeep = parse(deepest);
    EXPECT_FALSE(tooDeep);
    EXPECT_FALSE(tooDeep.error.empty());
}

TEST(ReportDescriptor, AbsurdReportsFail) {
    // 2^32-1 fields of 2^32-1 bits: the product alone overflows 32 bits.
    EXPECT_FALSE(
        parse(Bytes{0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0xB1, 0x02}));
    // 65534 data bytes are the most a report can have with its ID byte ...
    EXPECT_EQ(parse(Bytes{0x75, 0x08, 0x96, 0xFE, 0xFF, 0xB1, 0x02}).featureReportByteLength,
              65535);
    // ... and one bit more is too long, whether in one item or accumulated over many.
    EXPECT_FALSE(
        parse(Bytes{0x75, 0x08, 0x96, 0xFE, 0xFF, 0xB1, 0x02, 0x75, 0x01, 0x95, 0x01, 0xB1, 0x02}));
    Bytes many = {0x75, 0x08, 0x96, 0x00, 0x10}; // 4096 bytes per item
    for (int i = 0; i < 16; ++i)
        many.insert(many.end(), {0xB1, 0x02});
    EXPECT_FALSE(parse(many));
    // The same items over two report IDs fit.
    Bytes split = {0x75, 0x08, 0x96, 0x00, 0x10};
    for (int i = 0; i < 16; ++i)
        split.insert(split.end(), {0x85, static_cast<std::uint8_t>(1 + i % 2), 0xB1, 0x02});
    EXPECT_EQ(parse(split).featureReportByteLength, 8 * 4096 + 1);
}

TEST(ReportDescriptor, ReportIdOutsideOneTo255Fails) {
    EXPECT_FALSE(parse(Bytes{0x85, 0x00}));
    EXPECT_FALSE(parse(Bytes{0x86, 0x00, 0x01}));
    EXPECT_EQ(
        parse(Bytes{0x86, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02, 0xB1, 0x02}).featureReportByteLength,
        3);
}

// The strings from hidapi (UTF-32) as the platform seam delivers them (UTF-16LE).
TEST(WideString, EncodesUtf16LittleEndianWithTerminator) {
    std::array<std::uint8_t, 16> buffer{};
    buffer.fill(0xAA);
    EXPECT_EQ(writeUtf16le(U"A\u00E9\u20AC\U0001F600", buffer), 10U);
    const std::array<std::uint8_t, 16> expected = {0x41, 0x00, 0xE9, 0x00, 0xAC, 0x20, 0x3D, 0xD8,
                                                   0x00, 0xDE, 0x00, 0x00, 0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(buffer, expected);

    // Surrogates and values beyond U+10FFFF are not characters.
    buffer.fill(0xAA);
    const std::u32string invalid = {0xD800, 0x110000, 0x10FFFF};
    EXPECT_EQ(writeUtf16le(invalid, buffer), 8U);
    const std::array<std::uint8_t, 10> replaced = {0xFD, 0xFF, 0xFD, 0xFF, 0xFF,
                                                   0xDB, 0xFF, 0xDF, 0x00, 0x00};
    EXPECT_TRUE(std::equal(replaced.begin(), replaced.end(), buffer.begin()));
}

TEST(WideString, CutsAtTheBufferEndButNeverSplitsAPair) {
    std::array<std::uint8_t, 8> buffer{};
    buffer.fill(0xAA);
    // Exactly full: no room for the terminator, and nothing written past the buffer.
    EXPECT_EQ(writeUtf16le(U"ABCDE", std::span(buffer).first(6)), 6U);
    EXPECT_EQ(buffer[5], 0x00);
    EXPECT_EQ(buffer[6], 0xAA);

    buffer.fill(0xAA);
    // The pair needs 4 bytes but 2 are left: it is dropped and the terminator takes the 2.
    EXPECT_EQ(writeUtf16le(U"A\U0001F600", std::span(buffer).first(4)), 2U);
    const std::array<std::uint8_t, 5> cut = {0x41, 0x00, 0x00, 0x00, 0xAA};
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), buffer.begin()));

    buffer.fill(0xAA);
    // An odd byte at the end stays untouched.
    EXPECT_EQ(writeUtf16le(U"AB", std::span(buffer).first(5)), 4U);
    EXPECT_EQ(buffer[4], 0xAA);
    EXPECT_EQ(writeUtf16le(U"AB", std::span<std::uint8_t>()), 0U);
}

} // namespace
} // namespace quorvane
