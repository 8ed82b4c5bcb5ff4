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

} // namespace quorvane
