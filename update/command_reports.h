// The feature reports the Tarvex understands. Every report is exactly FeatureReportByteLength
// bytes, report ID 0 in byte 0, zeros after its content.
#pragma once

#include "tarvex_protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

enum class ReportKind { BootloaderEntry, Status, Unlock, Data };

// Bytes a report needs to carry its content, report ID included.
std::size_t reportContentLength(ReportKind kind);
// A plain sentence when the device's report length (nothing: it could not be read) cannot
// carry the report, or is beyond `platformLimit`, the longest the platform can carry.
std::optional<std::string> refuseReportLength(ReportKind kind,
                                              std::optional<std::size_t> featureReportByteLength,
                                              std::size_t platformLimit);

std::vector<std::uint8_t> makeReportBuffer(std::size_t nominalSize,
                                           std::size_t featureReportByteLength);

// Build into `buffer` (at least as long as the report); bytes the layout does not name are 0.
void buildBootloaderEntryReport(std::vector<std::uint8_t>& buffer);
void buildUnlockReport(std::vector<std::uint8_t>& buffer);
void buildDataReport(std::vector<std::uint8_t>& buffer, const Record& block);

// The status bytes ask for the unlock report.
bool statusWantsUnlock(const std::vector<std::uint8_t>& statusReport);

} // namespace quorvane
