// The history file's writes on POSIX systems.
#include "history_file.h"

#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace quorvane {

namespace history_io {

namespace {

// Writes all of `bytes` to `fd` and flushes them to disk.
bool writeAndSync(int fd, std::string_view bytes) {
    // A regular file takes a write whole unless the disk is full; a short write is a failure,
    // never continued, so no line is ever split between two writes.
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    const bool whole = written == static_cast<ssize_t>(bytes.size());
    return ::fsync(fd) == 0 && whole;
}

} // namespace

FileLock::FileLock(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd == -1)
        return;
    if (::flock(fd, LOCK_EX) != 0) {
        ::close(fd);
        return;
    }
    handle_ = fd;
}

FileLock::~FileLock() {
    if (handle_ != -1)
        ::close(static_cast<int>(handle_)); // releases the lock
}

bool appendDurably(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd == -1)
        return false;
    const bool ok = writeAndSync(fd, bytes);
    return ::close(fd) == 0 && ok;
}

bool replaceDurably(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::path temporary = path;
    temporary += ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd == -1)
        return false;
    const bool written = writeAndSync(fd, bytes);
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace history_io

} // namespace quorvane
