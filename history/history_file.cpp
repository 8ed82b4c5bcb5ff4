#include "history_file.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

namespace quorvane {

namespace fs = std::filesystem;

namespace {

std::string contentsOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The newest whole lines of `text` (lines that each end in a newline) within `budget` bytes.
std::string newestLines(const std::string& text, std::size_t budget) {
    std::size_t start = text.size();
    while (start > 0) {
        const std::size_t previousEnd =
            start >= 2 ? text.rfind('\n', start - 2) : std::string::npos;
        const std::size_t lineStart = previousEnd == std::string::npos ? 0 : previousEnd + 1;
        if (text.size() - lineStart > budget)
            break;
        start = lineStart;
    }
    return text.substr(start);
}

// A line cut short by a crash stays a damaged line of its own, not the start of the next one.
bool endsInNewline(const fs::path& path, std::uintmax_t size) {
    std::ifstream in(path, std::ios::binary);
    char last = '\n';
    return size == 0 || !in.seekg(static_cast<std::streamoff>(size) - 1) || !in.get(last) ||
           last == '\n';
}

} // namespace

bool HistoryFile::append(const UpdateRecord& record) const {
    const std::string line = toJson(record).dump() + '\n';
    std::error_code ec;
    fs::create_directories(path_.parent_path(), ec);
    // One writer at a time rotates or appends, so no line goes to a file being replaced.
    const history_io::FileLock lock(fs::path(path_) += ".lock");
    if (!lock.locked())
        return false;
    std::uintmax_t size = fs::file_size(path_, ec);
    if (ec)
        size = 0; // no history yet
    const std::string entry = endsInNewline(path_, size) ? line : '\n' + line;
    if (size + entry.size() <= RotateAtBytes)
        return history_io::appendDurably(path_, entry);
    // The oldest half goes: the newest lines and this one replace the file in one step.
    return history_io::replaceDurably(path_,
                                      newestLines(contentsOf(path_) + entry, RotateAtBytes / 2));
}

std::vector<UpdateRecord> HistoryFile::read() const {
    std::vector<UpdateRecord> records;
    std::istringstream lines(contentsOf(path_));
    for (std::string line; std::getline(lines, line);) {
        const auto json = nlohmann::ordered_json::parse(line, nullptr, false);
        if (auto record = json.is_discarded() ? std::nullopt : recordFromJson(json))
            records.push_back(std::move(*record));
    }
    return records;
}

} // namespace quorvane
