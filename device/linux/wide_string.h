// Strings from hidapi arrive as wchar_t, which holds UTF-32 on Linux and macOS; the platform
// seam hands strings to the program as raw UTF-16LE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorvane {

// Writes `text` as UTF-16LE into `buffer`, code points above U+FFFF as surrogate pairs, and
// code points that are not Unicode scalar values (surrogates, above U+10FFFF) as U+FFFD. The
// text is cut where the buffer ends, never in the middle of a pair; a zero terminator follows
// when two bytes are left for it. Returns the bytes of text written, terminator excluded.
std::size_t writeUtf16le(std::u32string_view text, std::span<std::uint8_t> buffer);

} // namespace quorvane
