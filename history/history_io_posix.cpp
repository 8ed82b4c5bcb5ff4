// The history file's input and output on POSIX systems.
#include "history_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace history_io {

namespace {

constexpr int LockPollMs = 20;

bool fail(std::string& error, int number) {
    error = std::system_category().message(number);
    return false;
}

// A history written past the file-size limit must fail like a full disk (EFBIG), not end the
// program: SIGXFSZ is ignored unless the program chose a handler of its own.
void surviveFileSizeLimit() {
    static const bool done = [] {
        struct sigaction current {};
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            ::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    (void)done;
}

// Opens `path` without blocking (a FIFO, a device) and keeps the descriptor only when it names
// a regular file; -1 otherwise, with `error` set.
int openRegular(const std::filesystem::path& path, int flags, std::string& error) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd == -1) {
        fail(error, errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "it is not a regular file";
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes all of `bytes` to `fd` and flushes them to disk; a write that fails part way is cut
// back to `sizeBefore`, so no half line stays behind.
bool writeAndSync(int fd, std::string_view bytes, off_t sizeBefore, std::string& error) {
    surviveFileSizeLimit();
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int number = written < 0 ? errno : ENOSPC;
            [[maybe_unused]] const int undone = ::ftruncate(fd, sizeBefore);
            return fail(error, number);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return ::fsync(fd) == 0 || fail(error, errno);
}

bool closeKeeping(int fd, bool ok, std::string& error) {
    const bool closed = ::close(fd) == 0;
    if (ok && !closed)
        return fail(error, errno);
    return ok;
}

} // namespace

FileLock::FileLock(const std::filesystem::path& path, int waitMs) {
    const int fd = openRegular(path, O_RDWR | O_CREAT, error_);
    if (fd == -1)
        return;
    for (int waited = 0;; waited += LockPollMs) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            handle_ = fd;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            fail(error_, errno);
            break;
        }
        if (waited >= waitMs) {
            error_ = "another program held its lock for over " + std::to_string(waitMs) + " ms";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(LockPollMs));
    }
    ::close(fd);
}

FileLock::~FileLock() {
    if (handle_ != -1)
        ::close(static_cast<int>(handle_)); // releases the lock
}

bool readTail(const std::filesystem::path& path, std::uintmax_t maxBytes, std::string& tail,
              std::uintmax_t& size, std::string& error) {
    tail.clear();
    size = 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return true; // no history yet
    const int fd = openRegular(path, O_RDONLY, error);
    if (fd == -1)
        return false;
    if (::fstat(fd, &st) != 0)
        return closeKeeping(fd, fail(error, errno), error);
    size = static_cast<std::uintmax_t>(st.st_size);
    const std::uintmax_t wanted = std::min(size, maxBytes);
    tail.resize(static_cast<std::size_t>(wanted));
    std::size_t got = 0;
    while (got < tail.size()) {
        const ssize_t n = ::pread(fd, tail.data() + got, tail.size() - got,
                                  static_cast<off_t>(size - wanted + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return closeKeeping(fd, fail(error, errno), error);
        if (n == 0)
            break; // shortened meanwhile
        got += static_cast<std::size_t>(n);
    }
    tail.resize(got);
    return closeKeeping(fd, true, error);
}

bool appendDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error) {
    const int fd = openRegular(path, O_WRONLY | O_APPEND | O_CREAT, error);
    if (fd == -1)
        return false;
    struct stat st {};
    const bool ok =
        (::fstat(fd, &st) == 0 || fail(error, errno)) && writeAndSync(fd, bytes, st.st_size, error);
    return closeKeeping(fd, ok, error);
}

bool replaceDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error) {
    std::filesystem::path temporary = path;
    temporary += ".new";
    const int fd = openRegular(temporary, O_WRONLY | O_CREAT | O_TRUNC, error);
    if (fd == -1)
        return false;
    const bool written = closeKeeping(fd, writeAndSync(fd, bytes, 0, error), error);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        if (written)
            fail(error, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace history_io

} // namespace quorvane
