#include "terminal_text.h"

#include "text_encoding.h"

#include <array>
#include <cstdio>

namespace quorvane {

namespace {

std::string escaped(const char* format, unsigned value) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), format, value);
    return text.data();
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
        } else if (const Utf8Sequence sequence = utf8SequenceAt(text); sequence.length == 0) {
            out += escaped("\\x%02x", byte);
        } else {
            used = sequence.length;
            if (sequence.codePoint <= 0x9F)
                out += escaped("\\u%04x", static_cast<unsigned>(sequence.codePoint));
            else
                out.append(text.substr(0, used));
        }
        text.remove_prefix(used);
    }
    return out;
}

} // namespace quorvane
