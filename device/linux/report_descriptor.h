// A small parser of HID report descriptors: it finds how many bytes the longest feature report
// of an interface takes, counting the report-ID byte, which is what the capabilities query
// reports as FeatureReportByteLength.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorvane {

// The outcome of parsing a descriptor: the length on success, otherwise what was wrong and at
// which byte offset.
struct FeatureLengthResult {
    // The longest feature report's data bytes plus one byte for the report ID (the ID byte is
    // counted whether or not the descriptor declares report IDs). 0 when the descriptor declares
    // no feature report at all: then no feature report can be sent to the interface.
    std::optional<std::uint16_t> featureReportByteLength;
    std::string error; // empty on success

    explicit operator bool() const { return featureReportByteLength.has_value(); }
};

// Limits that keep a hostile or corrupt descriptor from doing harm.
inline constexpr std::size_t MaxGlobalStackDepth = 16;
// The longest report the parser accepts, report-ID byte included.
inline constexpr std::size_t MaxReportBytes = 65535;

FeatureLengthResult parseFeatureReportByteLength(std::span<const std::uint8_t> descriptor);

} // namespace quorvane
