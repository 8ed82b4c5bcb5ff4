// What a Windows HID interface path tells of its device without opening it.
#pragma once

#include "ApiDeclarations.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvane {

// The vendor and product IDs in an interface path such as \\?\hid#vid_1d50&pid_2211#..., in any
// letter case, and the device the interface belongs to; nothing when the path carries no
// product ID. Never used to choose an interface, only to count and explain them.
std::optional<EnumeratedInterface> interfaceOfDevicePath(std::string_view path);

// A device instance ID names a USB device itself (USB\VID_1D50&PID_2211\TX-000417), not one
// interface of a composite device (USB\VID_1D50&PID_2211&MI_00\...) or another bus's node.
bool isUsbDeviceInstance(std::string_view instanceId);

} // namespace quorvane
