#include "text_encoding.h"

namespace quorvane {

namespace {

constexpr char32_t ReplacementCharacter = 0xFFFD;

bool isHighSurrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The code point at `text[i]`, a pair read as one, and the units it takes; an unpaired
// surrogate is U+FFFD.
std::pair<char32_t, std::size_t> codePointAt(std::u16string_view text, std::size_t i) {
    const char16_t u = text[i];
    if (isHighSurrogate(u) && i + 1 < text.size() && isLowSurrogate(text[i + 1]))
        return {0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00), 2};
    return {isHighSurrogate(u) || isLowSurrogate(u) ? ReplacementCharacter : u, 1};
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c > 0xFFFF) {
        out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

} // namespace

Utf8Sequence utf8SequenceAt(std::string_view text) {
    if (text.empty())
        return {};
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t length = 0;
    char32_t smallest = 0;
    char32_t c = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, smallest = 0x80, c = lead & 0x1Fu;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, smallest = 0x800, c = lead & 0x0Fu;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, smallest = 0x10000, c = lead & 0x07u;
    if (length == 0 || text.size() < length)
        return {};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0u) != 0x80u)
            return {};
        c = (c << 6) | (next & 0x3Fu);
    }
    if (c < smallest || c > 0x10FFFF || isHighSurrogate(c) || isLowSurrogate(c))
        return {};
    return {c, length};
}

std::string utf8Text(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto [c, units] = codePointAt(text, i);
        appendUtf8(out, c);
        i += units;
    }
    return out;
}

std::u16string utf16Text(std::string_view text) {
    std::u16string out;
    while (!text.empty()) {
        const Utf8Sequence s = utf8SequenceAt(text);
        appendUtf16(out, s.length == 0 ? ReplacementCharacter : s.codePoint);
        text.remove_prefix(s.length == 0 ? 1 : s.length);
    }
    return out;
}

std::u16string deviceStringText(const std::uint8_t* buffer, std::size_t length) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < length && (buffer[i] != 0 || buffer[i + 1] != 0); i += 2)
        units += static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
    std::u16string text;
    for (std::size_t i = 0; i < units.size();) {
        const auto [c, used] = codePointAt(units, i);
        appendUtf16(text, c);
        i += used;
    }
    return text;
}

void writeUtf16le(std::u16string_view text, std::span<std::uint8_t> buffer) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t units =
            isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1]) ? 2 : 1;
        if (buffer.size() - at < 2 * units)
            break;
        for (const std::size_t end = i + units; i < end; ++i) {
            buffer[at++] = static_cast<std::uint8_t>(text[i] & 0xFF);
            buffer[at++] = static_cast<std::uint8_t>(text[i] >> 8);
        }
    }
    if (buffer.size() - at >= 2)
        buffer[at] = buffer[at + 1] = 0;
}

} // namespace quorvane
