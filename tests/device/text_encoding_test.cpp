// Text from a device, from Windows and in UTF-8, each way the program converts it.
#include "text_encoding.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TextEncoding, EachWayWithWhatIsNotWellFormedReplaced) {
    // Device: its bytes are given. Wide: the UTF-16 is given, and written into a string query's
    // buffer of `device.size()` bytes filled with 0xAA. Utf8: the UTF-8 is given.
    enum From { Device, Wide, Utf8 };
    struct Row {
        const char* name;
        From from;
        std::u16string utf16;
        std::string utf8;
        Bytes device = {};
    };
    const Row rows[] = {
        {"ASCII up to the terminator", Device, u"AB", "", {0x41, 0, 0x42, 0, 0, 0, 0x43, 0}},
        {"U+0100, a pair", Device, u"\u0100\U0001F50C", "", {0, 1, 0x3D, 0xD8, 0x0C, 0xDD}},
        {"lone high and low halves", Device, u"\uFFFDA\uFFFD", "", {0, 0xD8, 0x41, 0, 0, 0xDC}},
        {"a pair cut by the length, no terminator", Device, u"A\uFFFD", "", {0x41, 0, 0xFF, 0xDB}},
        {"an odd byte count", Device, u"A", "", {0x41, 0, 0x42}},
        {"BMP", Wide, u"\u00e9\u0800", "\xC3\xA9\xE0\xA0\x80", {0xE9, 0, 0, 0x08, 0, 0}},
        {"unpaired", Wide, u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD", {0, 0xDC, 0, 0xD8, 0, 0}},
        {"a pair that does not fit", Wide, u"A\U0001F50C", "A\xF0\x9F\x94\x8C", {0x41, 0, 0, 0}},
        {"no room for a terminator", Wide, u"AB", "AB", {0x41, 0, 0x42, 0, 0xAA}},
        {"no room", Wide, u"AB", "AB", {}},
        {"valid UTF-8", Utf8, u"g\u00fc\u30d5\U0001F50C", "g\xC3\xBC\xE3\x83\x95\xF0\x9F\x94\x8C"},
        {"the last two-byte sequence", Utf8, u"\u07FF", "\xDF\xBF"},
        {"overlong", Utf8, u"\uFFFD\uFFFD/", "\xC0\xAF/"},
        {"truncated", Utf8, u"\uFFFD\uFFFD!", "\xE2\x82!"},
        {"stray continuation", Utf8, u"\uFFFD!", "\x80!"},
        {"an encoded surrogate", Utf8, u"\uFFFD\uFFFD\uFFFD", "\xED\xA0\x80"},
        {"above U+10FFFF", Utf8, u"\uFFFD\uFFFD\uFFFD\uFFFD", "\xF4\x90\x80\x80"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.from == Device) {
            EXPECT_EQ(deviceStringText(row.device.data(), row.device.size()), row.utf16);
        } else if (row.from == Utf8) {
            EXPECT_EQ(utf16Text(row.utf8), row.utf16);
        } else {
            EXPECT_EQ(utf8Text(row.utf16), row.utf8);
            Bytes written(row.device.size(), 0xAA);
            writeUtf16le(row.utf16, written);
            EXPECT_EQ(written, row.device);
        }
    }
}

} // namespace
} // namespace quorvane
