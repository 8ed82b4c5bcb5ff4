// The firmware image: a plain file of 40-byte records beside the executable, read as a
// stream, never created and never written.
#pragma once

#include "command_reports.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace quorvane {

// The path as UTF-8 text for messages.
std::string displayPath(const std::filesystem::path& path);

// At most this many records: the progress arithmetic keeps its counts in 16 bits.
inline constexpr std::int64_t MaxImageRecords = 32766;

// The executable's directory as the platform reports it, followed by the file name with the
// platform's separator; nothing is inserted or removed between the two.
std::filesystem::path firmwareImagePath(const std::filesystem::path::string_type& directory);

struct ImageCheck {
    std::int64_t records = 0;
    std::optional<std::string> problem; // a sentence naming the file, when it cannot be sent
};

// Looks at the image without creating or changing anything: missing, unreadable, not a file,
// empty, a partial last record, too many records.
ImageCheck checkFirmwareImage(const std::filesystem::path& path);

// Reads the whole image once, counting its records; the same problems as checkFirmwareImage.
ImageCheck countFirmwareRecords(const std::filesystem::path& path);

class FirmwareImageReader {
public:
    bool open(const std::filesystem::path& path); // never creates the file
    // The next full record; false at the end, or at a partial last record (tailBytes()).
    bool readRecord(Record& block);
    std::size_t tailBytes() const { return tailBytes_; }
    bool isOpen() const { return file_.is_open(); }
    void close();

private:
    std::ifstream file_;
    std::size_t tailBytes_ = 0;
};

} // namespace quorvane
