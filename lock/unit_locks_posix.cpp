// The units' locks on POSIX systems: flock(2) on a file per unit in /run/lock.
#include "unit_locks.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane {

namespace {

// Never waits on what is no regular file (a FIFO left in the folder), never follows a link.
constexpr int OpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;

// Opens the lock file, made for every user when missing; -1 with errno set when it cannot.
// The folder is sticky and world-writable, where the kernel refuses O_CREAT on another user's
// existing file (fs.protected_regular), so the file is opened first and made only when missing.
// Another user's file made before it was 0666 may be read-only here: flock takes a read-only
// descriptor as well.
int openLockFile(const char* path) {
    for (int tries = 0; tries < 3; ++tries) {
        int fd = ::open(path, O_RDWR | OpenFlags);
        if (fd == -1 && errno == EACCES)
            fd = ::open(path, O_RDONLY | OpenFlags);
        if (fd != -1 || errno != ENOENT)
            return fd;
        fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | OpenFlags, 0666);
        if (fd != -1) {
            ::fchmod(fd, 0666); // whatever the umask, so every user may open it for writing
            return fd;
        }
        if (errno != EEXIST)
            return -1;
        // Another program made it meanwhile: open that one.
    }
    return -1;
}

LockAttempt problem(const std::filesystem::path& path, int number) {
    LockAttempt attempt;
    attempt.problem = path.string() + ": " + std::system_category().message(number);
    return attempt;
}

} // namespace

void UnitLockHold::release() noexcept {
    if (handle_ != Closed)
        ::close(static_cast<int>(std::exchange(handle_, Closed)));
}

std::filesystem::path UnitLocks::systemDirectory() {
    // Where the system keeps no /run/lock (a minimal system, a container), /tmp is as shared.
    std::error_code error;
    return std::filesystem::is_directory("/run/lock", error) ? "/run/lock" : "/tmp";
}

LockAttempt UnitLocks::take(const std::string& unitKey) const {
    const std::filesystem::path path = fileFor(unitKey);
    const int fd = openLockFile(path.c_str());
    if (fd == -1)
        return problem(path, errno);
    int locked = 0;
    while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    const int number = errno;
    LockAttempt attempt;
    if (locked == 0) {
        attempt.hold = UnitLockHold(fd);
        return attempt;
    }
    ::close(fd);
    if (number != EWOULDBLOCK)
        return problem(path, number);
    attempt.heldElsewhere = true;
    return attempt;
}

} // namespace quorvane
