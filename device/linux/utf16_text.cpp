#include "utf16_text.h"

#include <array>

namespace quorvane {

namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;

// The code point of the well-formed sequence at the start of `text` and its length, or
// U+FFFD and 1.
std::pair<char32_t, std::size_t> decode(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || text.size() < length)
        return {ReplacementCharacter, 1};
    char32_t c = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return {ReplacementCharacter, 1};
        c = (c << 6) | (byte(i) & 0x3F);
    }
    constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < Smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return {ReplacementCharacter, 1};
    return {c, length};
}

} // namespace

std::size_t writeUtf16le(std::string_view text, std::span<std::uint8_t> buffer) {
    std::size_t at = 0;
    while (!text.empty()) {
        const auto [c, used] = decode(text);
        text.remove_prefix(used);
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
