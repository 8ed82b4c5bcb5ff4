// Access codes agreed with the Tarvex firmware. The build may replace them
// (QUORVANE_ENTER_BOOTLOADER_CODE / QUORVANE_UNLOCK_CODE cache settings); these are the defaults.
#pragma once

#include <array>
#include <cstdint>

namespace quorvane {

#ifdef QUORVANE_ENTER_BOOTLOADER_CODE_BYTES
inline constexpr std::array<std::uint8_t, 3> EnterBootloaderCode{
    QUORVANE_ENTER_BOOTLOADER_CODE_BYTES};
#else
inline constexpr std::array<std::uint8_t, 3> EnterBootloaderCode{0xB0, 0x07, 0x1D};
#endif

#ifdef QUORVANE_UNLOCK_CODE_BYTES
inline constexpr std::array<std::uint8_t, 8> UnlockCode{QUORVANE_UNLOCK_CODE_BYTES};
#else
inline constexpr std::array<std::uint8_t, 8> UnlockCode{0x55, 0x4E, 0x4C, 0x4F,
                                                        0x43, 0x4B, 0x21, 0x21};
#endif

} // namespace quorvane
