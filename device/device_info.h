// The device information display: the four value labels of the window.
#pragma once

#include "device_context.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

// Bytes given to each string query.
inline constexpr std::size_t DeviceStringBytes = 100;

// Fills the four labels from the device found, or clears them when none was found.
void ShowDeviceInfo(DeviceContext& ctx);

// UTF-8 text of a zero-terminated UTF-16LE string of at most `length` bytes; unpaired
// surrogates become U+FFFD.
std::string deviceStringText(const std::uint8_t* buffer, std::size_t length);
// " major.MINOR": the high byte in decimal, the low byte in upper-case hexadecimal.
std::string versionText(std::uint16_t versionNumber);

} // namespace quorvane
