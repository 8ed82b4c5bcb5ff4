// The kernel hands device strings over as UTF-8 (sysfs attributes, udev properties); the
// platform seam hands them to the program as raw UTF-16LE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorvane {

// Writes UTF-8 `text` as UTF-16LE into `buffer`, code points above U+FFFF as surrogate pairs;
// each byte that does not begin a well-formed sequence (cut, overlong, a surrogate, above
// U+10FFFF) becomes U+FFFD. The text is cut where the buffer ends, never in the middle of a
// pair; a zero terminator follows when two bytes are left for it. Returns the bytes of text
// written, terminator excluded.
std::size_t writeUtf16le(std::string_view text, std::span<std::uint8_t> buffer);

} // namespace quorvane
