#include "firmware_image.h"

#include <algorithm>
#include <system_error>

namespace quorvane {

namespace fs = std::filesystem;

fs::path firmwareImagePath(const fs::path::string_type& directory) {
    fs::path::string_type name;
    name += fs::path::preferred_separator;
    for (char c : std::string_view("quorvane.bin"))
        name += static_cast<fs::path::value_type>(c);
    return fs::path(directory + name);
}

std::string displayPath(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

namespace {

std::string quoted(const fs::path& path) {
    return "\"" + displayPath(path) + "\"";
}

std::optional<std::string> sizeProblem(const fs::path& path, std::uintmax_t size) {
    if (size == 0)
        return "The firmware image " + quoted(path) + " is empty.";
    if (size % RecordSize != 0)
        return "The firmware image " + quoted(path) + " is " + std::to_string(size) +
               " bytes, not a whole number of " + std::to_string(RecordSize) + "-byte records.";
    if (size / RecordSize > static_cast<std::uintmax_t>(MaxImageRecords))
        return "The firmware image " + quoted(path) +
               " is too large: " + std::to_string(size / RecordSize) + " records, at most " +
               std::to_string(MaxImageRecords) + ".";
    return std::nullopt;
}

std::optional<std::string> fileProblem(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    // A path that cannot be resolved (a loop of links, a name too long) is not a missing one.
    if (ec && st.type() != fs::file_type::not_found)
        return "The firmware image " + quoted(path) + " cannot be read: " + ec.message() + ".";
    if (!fs::exists(st))
        return "The firmware image " + quoted(path) + " is missing.";
    if (!fs::is_regular_file(st))
        return "The firmware image " + quoted(path) + " is not a file.";
    return std::nullopt;
}

} // namespace

ImageCheck checkFirmwareImage(const fs::path& path) {
    ImageCheck check;
    if ((check.problem = fileProblem(path)))
        return check;
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        return {0, "The firmware image " + quoted(path) + " cannot be read."};
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec)
        return {0, "The firmware image " + quoted(path) + " cannot be read."};
    check.problem = sizeProblem(path, size);
    check.records = static_cast<std::int64_t>(size / RecordSize);
    return check;
}

ImageCheck countFirmwareRecords(const fs::path& path) {
    ImageCheck check;
    if ((check.problem = fileProblem(path)))
        return check;
    FirmwareImageReader reader;
    if (!reader.open(path))
        return {0, "The firmware image " + quoted(path) + " cannot be read."};
    Record block{};
    std::uintmax_t records = 0;
    // Past the limit the image is refused anyway; no need to read on.
    while (records <= static_cast<std::uintmax_t>(MaxImageRecords) && reader.readRecord(block))
        ++records;
    std::uintmax_t size = records * RecordSize + reader.tailBytes();
    if (records > static_cast<std::uintmax_t>(MaxImageRecords)) {
        std::error_code ec;
        size = std::max<std::uintmax_t>(size, fs::file_size(path, ec));
    }
    reader.close();
    check.problem = sizeProblem(path, size);
    check.records = static_cast<std::int64_t>(records);
    return check;
}

bool FirmwareImageReader::open(const fs::path& path) {
    tailBytes_ = 0;
    std::error_code ec; // a path that cannot be resolved (a loop, too long) is not a file
    if (!fs::is_regular_file(path, ec))
        return false;
    file_.open(path, std::ios::binary); // read-only: a missing file is not created
    return file_.is_open();
}

bool FirmwareImageReader::readRecord(Record& block) {
    if (!file_.is_open() || tailBytes_ != 0)
        return false;
    file_.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    const std::streamsize got = file_.gcount();
    if (got == static_cast<std::streamsize>(block.size()))
        return true;
    tailBytes_ = static_cast<std::size_t>(got);
    return false;
}

void FirmwareImageReader::close() {
    if (file_.is_open())
        file_.close();
}

} // namespace quorvane
