// What the protocol's numbers mean to people and to the rest of the program: whether an interface
// is a Tarvex, the name of its mode, and the "vvvv:pppp" text of its IDs. Every front end, the
// trace and the history take them from here.
#pragma once

#include "tarvex_protocol.h"

#include <cstdint>
#include <string>

namespace quorvane {

// A Tarvex in either mode, whatever the vendor ID says.
constexpr bool isTarvexProduct(std::uint16_t productId) {
    return productId == AppModeProductId || productId == BootModeProductId;
}

// "application" or "bootloader", as the history and JSON name the mode.
const char* modeName(std::uint16_t productId);
// "application firmware" or "bootloader", as sentences name it.
const char* modeDescription(std::uint16_t productId);
// "1d50:2211": vendor and product ID in lower-case hexadecimal.
std::string idsText(std::uint16_t vendorId, std::uint16_t productId);

} // namespace quorvane
