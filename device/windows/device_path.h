// What a Windows HID interface path tells of its device without opening it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvane {

// The product ID in an interface path such as \\?\hid#vid_1d50&pid_2211#..., in any letter
// case; nothing when the path carries none. Used only to explain an interface that may not be
// opened, never to choose one.
std::optional<std::uint16_t> productIdInDevicePath(std::string_view path);

} // namespace quorvane
