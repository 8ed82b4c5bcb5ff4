#include "terminal_text.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace quorvane {

namespace {

std::string escaped(const char* format, unsigned value) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), format, value);
    return text.data();
}

// The length of the well-formed UTF-8 sequence at the start of `text` (shortest form, no
// surrogates, at most U+10FFFF), or 0 when there is none.
std::size_t sequenceLength(std::string_view text, std::uint32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    std::uint32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, min = 0x80, codePoint = lead & 0x1Fu;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, min = 0x800, codePoint = lead & 0x0Fu;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, min = 0x10000, codePoint = lead & 0x07u;
    if (length == 0 || text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0u) != 0x80u)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < min || surrogate || codePoint > 0x10FFFF ? 0 : length;
}

} // namespace

std::string terminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text[0]);
        std::size_t used = 1;
        if (byte == '\t' || byte == '\n' || byte == '\r') {
            out += byte == '\t' ? "\\t" : byte == '\n' ? "\\n" : "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += escaped("\\x%02x", byte);
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
        } else if (std::uint32_t codePoint = 0; (used = sequenceLength(text, codePoint)) == 0) {
            used = 1;
            out += escaped("\\x%02x", byte);
        } else if (codePoint <= 0x9F) {
            out += escaped("\\u%04x", codePoint);
        } else {
            out.append(text.substr(0, used));
        }
        text.remove_prefix(used);
    }
    return out;
}

} // namespace quorvane
