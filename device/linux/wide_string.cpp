#include "wide_string.h"

#include <array>

namespace quorvane {

namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;

bool isScalarValue(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

} // namespace

std::size_t writeUtf16le(std::u32string_view text, std::span<std::uint8_t> buffer) {
    std::size_t at = 0;
    for (char32_t c : text) {
        if (!isScalarValue(c))
            c = ReplacementCharacter;
        std::array<char16_t, 2> units{};
        std::size_t count = 1;
        if (c > 0xFFFF) {
            const char32_t offset = c - 0x10000;
            units[0] = static_cast<char16_t>(0xD800 + (offset >> 10));
            units[1] = static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
            count = 2;
        } else {
            units[0] = static_cast<char16_t>(c);
        }
        if (buffer.size() - at < 2 * count)
            break;
        for (std::size_t i = 0; i < count; ++i) {
            buffer[at++] = static_cast<std::uint8_t>(units[i] & 0xFF);
            buffer[at++] = static_cast<std::uint8_t>(units[i] >> 8);
        }
    }
    if (buffer.size() - at >= 2) {
        buffer[at] = 0;
        buffer[at + 1] = 0;
    }
    return at;
}

} // namespace quorvane
