#include "command_reports.h"

#include "tarvex_protocol.h"

#include <algorithm>

namespace quorvane {

std::size_t reportContentLength(ReportKind kind) {
    switch (kind) {
    case ReportKind::BootloaderEntry:
        return 1 + EnterBootloaderCode.size();
    case ReportKind::Status:
        return StatusReportLength;
    case ReportKind::Unlock:
        return 1 + UnlockCode.size();
    case ReportKind::Data:
        return 1 + RecordSize;
    }
    return 0;
}

std::optional<std::string> refuseReportLength(ReportKind kind, std::optional<std::size_t> length,
                                              std::size_t platformLimit) {
    static constexpr const char* names[] = {"bootloader-entry", "status", "unlock", "firmware"};
    const std::size_t needed = reportContentLength(kind);
    if (length && *length >= needed && *length <= platformLimit)
        return std::nullopt;
    const std::string name = names[static_cast<int>(kind)];
    if (!length)
        return "The device's report length could not be read, so the " + name +
               " report cannot be exchanged.";
    const std::string reports = "The device's reports are " + std::to_string(*length);
    if (*length > platformLimit)
        return reports + " bytes long, longer than this system can carry (" +
               std::to_string(platformLimit) + " bytes), so the " + name +
               " report cannot be exchanged.";
    if (*length == 0)
        return "The device declares no feature reports, so the " + name +
               " report cannot be exchanged.";
    return reports + " bytes long, too short for the " + name + " report (" +
           std::to_string(needed) + " bytes).";
}

std::vector<std::uint8_t> makeReportBuffer(std::size_t nominalSize, std::size_t length) {
    return std::vector<std::uint8_t>(std::max(nominalSize, length), 0);
}

namespace {

template <std::size_t N>
void buildCommand(std::vector<std::uint8_t>& buffer, const std::array<std::uint8_t, N>& code) {
    // The same buffer may carry another report before; clear what this one does not name.
    std::fill(buffer.begin(), buffer.end(), 0);
    std::copy(code.begin(), code.end(), buffer.begin() + 1);
}

} // namespace

void buildBootloaderEntryReport(std::vector<std::uint8_t>& buffer) {
    buildCommand(buffer, EnterBootloaderCode);
}

void buildUnlockReport(std::vector<std::uint8_t>& buffer) {
    buildCommand(buffer, UnlockCode);
}

void buildDataReport(std::vector<std::uint8_t>& buffer, const Record& block) {
    buffer[0] = 0;
    std::copy(block.begin(), block.end(), buffer.begin() + 1);
}

bool statusWantsUnlock(const std::vector<std::uint8_t>& statusReport) {
    return statusReport[1] != 0 || statusReport[2] != 0;
}

} // namespace quorvane
