// The units' locks: one holder per key until its hold is gone, a file inside the folder for any
// key; another user's program (nobody, for root) holding one on a read-only file until killed.
#include "temp_dir.h"
#include "unit_locks.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quorvane::test {
namespace {

TEST(UnitLocks, OneHolderPerKeyUntilItsHoldIsGone) {
    TempDir dir;
    const UnitLocks locks(dir.path());
    std::optional<UnitLockHold> first = locks.take("place:1-2.3").hold;
    ASSERT_TRUE(first.has_value());
    const LockAttempt second = locks.take("place:1-2.3");
    EXPECT_TRUE(second.heldElsewhere);
    EXPECT_TRUE(locks.take("serial:TX-000417").hold.has_value());
    std::optional<UnitLockHold> moved(std::move(first));
    first.reset(); // what it was moved from holds nothing
    EXPECT_TRUE(locks.take("place:1-2.3").heldElsewhere);
    moved.reset();
    EXPECT_TRUE(locks.take("place:1-2.3").hold.has_value());
    EXPECT_EQ(locks.fileFor("serial:TX 000/417"),
              dir.path() / "quorvane-unit-serial_TX_000_417-accdfa04d0630dc6");
    EXPECT_TRUE(locks.take("serial:TX 000/417").hold.has_value());
}

#ifndef _WIN32
TEST(UnitLocks, AnotherUsersProgramHoldsTheLockUntilItIsKilled) {
    TempDir dir;
    const UnitLocks locks(dir.path()), sealed(dir.path() / "sealed");
    ::close(::open(locks.fileFor("place:1-2.3").c_str(), O_CREAT | O_WRONLY, 0444));
    ::mkdir((dir.path() / "sealed").c_str(), 0555);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(60); // never outlives a test that went wrong
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(1);
        const std::optional<UnitLockHold> hold = locks.take("place:1-2.3").hold;
        const std::string told = (hold ? "1" : "0") + sealed.take("place:1-2.3").problem;
        (void)!::write(fds[1], told.data(), told.size());
        ::pause();
    }
    ::close(fds[1]);
    std::string told(512, '\0');
    const ssize_t n = ::read(fds[0], told.data(), told.size());
    told.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    ::close(fds[0]);
    EXPECT_EQ(told.substr(0, 1), "1");
    EXPECT_EQ(told.substr(1), sealed.fileFor("place:1-2.3").string() + ": Permission denied");
    EXPECT_TRUE(locks.take("place:1-2.3").heldElsewhere);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(locks.take("place:1-2.3").hold.has_value());
}
#endif

} // namespace
} // namespace quorvane::test
