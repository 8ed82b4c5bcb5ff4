#include "history_file.h"

#include <system_error>

#include <nlohmann/json.hpp>

namespace quorvane {

namespace fs = std::filesystem;

namespace {

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

// The path as the user reads it (UTF-8 on Windows too, where string() could throw).
std::string shown(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

} // namespace

bool HistoryFile::append(const UpdateRecord& record) const noexcept {
    std::string why;
    try {
        const std::string line = jsonText(toJson(record)) + '\n';
        std::error_code ec;
        fs::create_directories(path_.parent_path(), ec);
        // One writer at a time rotates or appends, so no line goes to a file being replaced.
        const history_io::FileLock lock(fs::path(path_) += ".lock", LockWaitMs);
        std::string tail;
        std::uintmax_t size = 0;
        if (!lock.locked()) {
            why = lock.error();
        } else if (history_io::readTail(path_, RotateAtBytes, tail, size, why)) {
            // A line cut short by a crash stays a damaged line of its own.
            const std::string entry = tail.empty() || tail.back() == '\n' ? line : '\n' + line;
            if (size + entry.size() <= RotateAtBytes &&
                history_io::appendDurably(path_, entry, why)) {
                warning_.clear();
                return true;
            }
            // The oldest half goes: the newest lines and this one replace the file in one step.
            if (size + entry.size() > RotateAtBytes &&
                history_io::replaceDurably(path_, newestLines(tail + entry, RotateAtBytes / 2),
                                           why)) {
                warning_.clear();
                return true;
            }
        }
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
        why = "unknown error";
    }
    warn("was not written", why);
    return false;
}

void HistoryFile::warn(const char* what, const std::string& why) const noexcept {
    try {
        warning_ =
            std::string("The update history ") + what + " (" + shown(path_) + "): " + why + ".";
    } catch (...) {
        warning_.clear(); // no memory even for the warning: the user is simply not told
    }
}

std::vector<UpdateRecord> HistoryFile::read() const noexcept {
    std::vector<UpdateRecord> records;
    std::string why;
    try {
        std::string tail;
        std::uintmax_t size = 0;
        if (history_io::readTail(path_, RotateAtBytes, tail, size, why)) {
            // A tail that starts inside a line starts at the next one.
            std::size_t start = 0;
            if (tail.size() < size && (start = tail.find('\n')) != std::string::npos)
                ++start;
            while (start != std::string::npos && start < tail.size()) {
                const std::size_t end = tail.find('\n', start);
                const std::string_view line(tail.data() + start,
                                            (end == std::string::npos ? tail.size() : end) - start);
                const auto json = nlohmann::ordered_json::parse(line, nullptr, false);
                if (auto record = json.is_discarded() ? std::nullopt : recordFromJson(json))
                    records.push_back(std::move(*record));
                start = end == std::string::npos ? end : end + 1;
            }
            warning_.clear();
            return records;
        }
    } catch (const std::exception& e) {
        why = e.what();
    } catch (...) {
        why = "unknown error";
    }
    warn("could not be read", why);
    return records;
}

} // namespace quorvane
