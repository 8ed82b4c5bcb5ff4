// The device information display: the four value fields of the window.
#pragma once

#include "device_context.h"
#include "tarvex_protocol.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// Fills the four fields from the device found, or clears them when none was found. A string
// whose query fails leaves its field as it was.
void ShowDeviceInfo(DeviceContext& ctx);

// One string of the device found, queried on OverlappedHandle (LastResult tells the outcome);
// nothing when the query failed.
std::optional<std::u16string> queryDeviceString(DeviceContext& ctx, StringKind kind);

// The text of a zero-terminated UTF-16LE string of at most `length` bytes; unpaired surrogates
// become U+FFFD.
std::u16string deviceStringText(const std::uint8_t* buffer, std::size_t length);
// UTF-8 of UTF-16 text, for consoles and logs; unpaired surrogates become U+FFFD.
std::string utf8Text(std::u16string_view text);
// "major.MINOR": the high byte in decimal, the low byte in upper-case hexadecimal.
std::u16string versionText(std::uint16_t versionNumber);

} // namespace quorvane
