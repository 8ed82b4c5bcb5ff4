#include "tarvex_identity.h"

#include <array>
#include <cstdio>

namespace quorvane {

const char* modeName(std::uint16_t productId) {
    return productId == BootModeProductId ? "bootloader" : "application";
}

const char* modeDescription(std::uint16_t productId) {
    return productId == BootModeProductId ? "bootloader" : "application firmware";
}

std::string idsText(std::uint16_t vendorId, std::uint16_t productId) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%04x:%04x", vendorId, productId);
    return text.data();
}

} // namespace quorvane
