// The update history: one JSON line per command run, appended whole, bounded in size, readable
// past a damaged line. Nothing about it can fail, block or undo a command: every trouble (a
// place that is no regular file, a lock held by another program, a full disk, a size limit)
// leaves a warning for the user and the command's outcome as it was.
#pragma once

#include "update_record.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// Where the history is kept: $XDG_STATE_HOME/quorvane/history.jsonl (~/.local/state when unset)
// on Linux, %LOCALAPPDATA%\quorvane\history.jsonl on Windows; empty when neither is known.
std::filesystem::path defaultHistoryPath();
// What defaultHistoryPath() reads, for a message that says why there is no history: "X is" or
// "X and Y are".
const char* historyPlaceVariables();

class HistoryFile {
public:
    // Past this size the oldest half of the lines is dropped; no more than this is ever read.
    static constexpr std::uintmax_t RotateAtBytes = 1024 * 1024;
    // How long an append waits for another writer's lock before it gives the line up.
    static constexpr int LockWaitMs = 1500;

    explicit HistoryFile(std::filesystem::path path) : path_(std::move(path)) {}

    // Appends the record as one line, written whole and flushed to disk. Text that is not
    // UTF-8 is written with replacement characters. False when the line was not written, and
    // warning() says why; never throws, never waits longer than LockWaitMs for the lock.
    bool append(const UpdateRecord& record) const noexcept;
    // The records of the newest RotateAtBytes of the file, oldest first; lines that hold none
    // (damaged, cut, numbers out of range) are skipped. Never throws: a history that cannot be
    // read reads as empty, and warning() says why.
    std::vector<UpdateRecord> read() const noexcept;
    // Why the last append() or read() fell short, as a sentence for the user; empty when it
    // went well (a missing history is no trouble: it reads as empty).
    const std::string& warning() const { return warning_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    // Keeps "The update history <what> (<path>): <why>." for warning().
    void warn(const char* what, const std::string& why) const noexcept;

    mutable std::string warning_;
};

// What the platform gives the history file: whole appends, an exclusive lock across processes,
// a file replaced in one step, and its end read, each only on a regular file and never
// blocking on one that is not. Failures come back as `error`, in the system's words.
namespace history_io {
// Holds an exclusive lock on `path` (created when missing) for its life, once it got it within
// `waitMs`.
class FileLock {
public:
    FileLock(const std::filesystem::path& path, int waitMs);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return handle_ != -1; }
    const std::string& error() const { return error_; }

private:
    std::intptr_t handle_ = -1;
    std::string error_;
};
// The last `maxBytes` of the file at `path` (all of it when shorter) into `tail`, and the
// file's `size`. A missing file reads as empty.
bool readTail(const std::filesystem::path& path, std::uintmax_t maxBytes, std::string& tail,
              std::uintmax_t& size, std::string& error);
// Writes `bytes` at the end of `path` (created when missing), then to disk; a write that
// fails part way is undone.
bool appendDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error);
// Replaces `path` by a file holding `bytes`: written beside it, flushed, renamed over it.
bool replaceDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error);
} // namespace history_io

} // namespace quorvane
