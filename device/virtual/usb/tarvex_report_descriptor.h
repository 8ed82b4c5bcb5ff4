// The Tarvex's HID report descriptor, as the USB Tarvex declares it: a
// vendor-defined collection with one feature report and no report IDs. The host counts a zero
// report ID in front, so the report is `featureReportByteLength` bytes to the host.
#pragma once

#include <cstdint>
#include <vector>

namespace quorvane {

inline std::vector<std::uint8_t> tarvexReportDescriptor(std::uint16_t featureReportByteLength) {
    const auto size = static_cast<std::uint16_t>(featureReportByteLength - 1);
    const auto low = static_cast<std::uint8_t>(size & 0xFF),
               high = static_cast<std::uint8_t>(size >> 8);
    // Usage page 0xFF00, usage 1, collection; usage 2, 0..255, 8 bits, `size` of them, feature.
    return {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0x15, 0x00,
            0x26, 0xFF, 0x00, 0x75, 0x08, 0x96, low,  high, 0xB1, 0x02, 0xC0};
}

} // namespace quorvane
