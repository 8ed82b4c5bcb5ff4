// One update session per Tarvex unit at a time, across the programs and the users of the
// machine. Each unit has a lock, named by the key the session knows the unit by (its place or its
// serial number, never its device node, which changes as the unit restarts), on a file in a
// folder every user may write. It is taken before the first report and held to the end of the
// session; the system lets it go when the program ends, however it ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace quorvane {

// A unit's lock, held until this is destroyed. Move-only.
class UnitLockHold {
public:
    UnitLockHold(UnitLockHold&& other) noexcept : handle_(std::exchange(other.handle_, Closed)) {}
    UnitLockHold& operator=(UnitLockHold&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = std::exchange(other.handle_, Closed);
        }
        return *this;
    }
    ~UnitLockHold() { release(); }

private:
    friend class UnitLocks;
    static constexpr std::intptr_t Closed = -1;
    explicit UnitLockHold(std::intptr_t handle) : handle_(handle) {}
    void release() noexcept; // closes the lock file, which lets the lock go

    std::intptr_t handle_; // the lock file's descriptor (POSIX) or handle (Windows)
};

struct LockAttempt {
    std::optional<UnitLockHold> hold; // taken
    bool heldElsewhere = false;       // another program, or another session here, holds it
    // Why the lock could not be taken otherwise: the path of the file (or folder) at fault and
    // the system's words, "<path>: <why>" (then hold is empty and heldElsewhere false).
    std::string problem;
};

class UnitLocks {
public:
    explicit UnitLocks(std::filesystem::path directory) : directory_(std::move(directory)) {}
    // The machine's folder for them: /run/lock on Linux (/tmp where there is none),
    // %ProgramData%\quorvane\locks on Windows (made when missing).
    static std::filesystem::path systemDirectory();

    // Takes the unit's lock, or tells who has it or what went wrong; never waits.
    LockAttempt take(const std::string& unitKey) const;
    // The unit's lock file: "quorvane-unit-", the key with all but [A-Za-z0-9._-] turned into
    // '_' (its first hundred or so characters), "-" and the key's 64-bit FNV-1a in hex, so that
    // two keys never share a file.
    std::filesystem::path fileFor(const std::string& unitKey) const;

private:
    std::filesystem::path directory_;
};

} // namespace quorvane
