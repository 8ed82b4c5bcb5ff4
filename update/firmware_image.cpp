#include "firmware_image.h"

#include <algorithm>
#include <fstream>
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
    const std::string unreadable = "The firmware image " + quoted(path) + " cannot be read.";
    std::ifstream file(path, std::ios::binary); // read-only: a missing file is not created
    if (!file)
        return {{}, unreadable};
    // The size only sizes the buffer, with room for one record more so that a file grown since
    // is seen; the content read decides. One record past the limit is enough to refuse it.
    constexpr std::size_t limit = static_cast<std::size_t>(MaxImageRecords) + 1;
    std::error_code ec;
    const std::uintmax_t shown = fs::file_size(path, ec);
    std::size_t room = ec ? 1 : std::min<std::uintmax_t>(shown / RecordSize + 2, limit);
    std::vector<Record>& records = check.records;
    std::size_t got = 0; // bytes
    for (;;) {
        records.resize(room);
        const std::size_t want = room * RecordSize;
        file.read(reinterpret_cast<char*>(records.data()) + got,
                  static_cast<std::streamsize>(want - got));
        got += static_cast<std::size_t>(file.gcount());
        if (got < want || room == limit)
            break;
        room = std::min(room * 2, limit); // it grew after its size was taken
    }
    if (file.bad())
        return {{}, unreadable};
    std::uintmax_t size = got;
    if (got == limit * RecordSize) { // refused: the message tells its whole size
        const std::uintmax_t now = fs::file_size(path, ec);
        size = ec ? size : std::max(size, now);
    }
    if ((check.problem = sizeProblem(path, size)))
        records = {};
    else
        records.resize(got / RecordSize);
    return check;
}

} // namespace quorvane
