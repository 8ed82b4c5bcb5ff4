// The firmware image: a plain file of 40-byte records beside the executable, read whole into
// memory once, never created and never written.
#pragma once

#include "command_reports.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// The path as UTF-8 text for messages.
std::string displayPath(const std::filesystem::path& path);

// At most this many records: the progress arithmetic keeps its counts in 16 bits.
inline constexpr std::int64_t MaxImageRecords = 32766;

// The executable's directory as the platform reports it, followed by the file name with the
// platform's separator; nothing is inserted or removed between the two.
std::filesystem::path firmwareImagePath(const std::filesystem::path::string_type& directory);

struct ImageCheck {
    std::vector<Record> records;        // the whole image as read; empty when it cannot be sent
    std::optional<std::string> problem; // a sentence naming the file, when it cannot be sent
};

// Reads the whole image into memory without creating or changing anything; what was read is
// what gets sent, whatever happens to the file afterwards. Problems: missing, unreadable, not a
// file, empty, a partial last record, too many records. Never reads past one record over the
// limit.
ImageCheck checkFirmwareImage(const std::filesystem::path& path);

} // namespace quorvane
