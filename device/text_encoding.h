// Text between the device, the platforms and the program: devices and Windows speak UTF-16
// (devices as little-endian bytes), the program, Linux and terminals UTF-8. Whatever is not
// well-formed on the way in becomes U+FFFD on the way out, so a bad string never ends a
// conversion early and never passes on bytes the other side cannot read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quorvane {

// The well-formed UTF-8 sequence at the start of `text` (shortest form, no surrogate, at most
// U+10FFFF): its code point and its length in bytes; length 0 when there is none.
struct Utf8Sequence {
    char32_t codePoint = 0;
    std::size_t length = 0;
};
Utf8Sequence utf8SequenceAt(std::string_view text);

// UTF-8 of UTF-16 text; unpaired surrogates become U+FFFD.
std::string utf8Text(std::u16string_view text);
// UTF-16 of UTF-8 text, code points above U+FFFF as surrogate pairs; each byte that does not
// begin a well-formed sequence becomes U+FFFD.
std::u16string utf16Text(std::string_view text);

// The text of a device's string: UTF-16LE in at most `length` bytes, up to its first zero unit
// (an odd last byte is no unit); unpaired surrogates become U+FFFD.
std::u16string deviceStringText(const std::uint8_t* buffer, std::size_t length);
// Writes `text` as UTF-16LE into `buffer`, as a device answers a string query: cut where the
// buffer ends, never between the two halves of a pair, and followed by a zero unit when two
// bytes are left for it.
void writeUtf16le(std::u16string_view text, std::span<std::uint8_t> buffer);

} // namespace quorvane
