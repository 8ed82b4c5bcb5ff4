// The Tarvex's protocol: every number the host and the device agree on, written once. The
// program, the virtual Tarvex, the demo, the benchmark and the tests all take them from here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorvane {

// Product IDs: the application firmware and the bootloader. The vendor ID does not matter.
inline constexpr std::uint16_t AppModeProductId = 0x2211;
inline constexpr std::uint16_t BootModeProductId = 0xB046;

// One data report carries one record of the firmware image.
inline constexpr std::size_t RecordSize = 40;
using Record = std::array<std::uint8_t, RecordSize>;

// Nominal buffers reports are built in: command reports (bootloader entry, unlock) and the
// status and data reports. A device that declares longer reports gets a zero-filled buffer of
// its own length instead, so nothing is read or written past either end.
inline constexpr std::size_t CommandBufferSize = 1001;
inline constexpr std::size_t ReportBufferSize = 101;

// Bytes of report content, report ID included: the status report carries two status bytes.
inline constexpr std::size_t StatusReportLength = 3;

// Bytes given to each string query.
inline constexpr std::size_t DeviceStringBytes = 100;

// Pauses, in milliseconds: between polls for the device, after each data report, and before
// the first one.
inline constexpr int DiscoveryPauseMs = 100;
inline constexpr int RecordPauseMs = 20;
inline constexpr int SettlePauseMs = 10;
// Bare polls after the transfer while the device restarts, before the wait proper.
inline constexpr int RestartPolls = 5;

// Access codes agreed with the Tarvex firmware. The build may replace them
// (QUORVANE_ENTER_BOOTLOADER_CODE / QUORVANE_UNLOCK_CODE cache settings); these are the defaults.
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
