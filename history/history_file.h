// The update history: one JSON line per command run, appended whole, bounded in size, readable
// past a damaged line.
#pragma once

#include "update_record.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace quorvane {

// Where the history is kept: $XDG_STATE_HOME/quorvane/history.jsonl (~/.local/state when unset)
// on Linux, %LOCALAPPDATA%\quorvane\history.jsonl on Windows; empty when neither is known.
std::filesystem::path defaultHistoryPath();

class HistoryFile {
public:
    // Past this size the oldest half of the lines is dropped.
    static constexpr std::uintmax_t RotateAtBytes = 1024 * 1024;

    explicit HistoryFile(std::filesystem::path path) : path_(std::move(path)) {}

    // Appends the record as one line, written whole and flushed to disk; false when the file
    // could not be written (nothing else happens then).
    bool append(const UpdateRecord& record) const;
    // Every record, oldest first; lines that hold none are skipped.
    std::vector<UpdateRecord> read() const;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// What the platform gives the history file: whole appends, an exclusive lock across processes,
// and a file replaced in one step.
namespace history_io {
// Holds an exclusive lock on `path` (created when missing) for its life.
class FileLock {
public:
    explicit FileLock(const std::filesystem::path& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return handle_ != -1; }

private:
    std::intptr_t handle_ = -1;
};
// Writes `bytes` at the end of `path` (created when missing) in one write, then to disk.
bool appendDurably(const std::filesystem::path& path, std::string_view bytes);
// Replaces `path` by a file holding `bytes`: written beside it, flushed, renamed over it.
bool replaceDurably(const std::filesystem::path& path, std::string_view bytes);
} // namespace history_io

} // namespace quorvane
