// The device information display: the four value fields of the window.
#pragma once

#include "device_context.h"
#include "tarvex_protocol.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

// Fills the four fields from the device found, or clears them when none was found. A string
// whose query fails leaves its field as it was.
void ShowDeviceInfo(DeviceContext& ctx);

// One string of the device found, queried on OverlappedHandle (LastResult tells the outcome);
// nothing when the query failed.
std::optional<std::u16string> queryDeviceString(DeviceContext& ctx, StringKind kind);

// "major.MINOR": the high byte in decimal, the low byte in upper-case hexadecimal.
std::u16string versionText(std::uint16_t versionNumber);

} // namespace quorvane
