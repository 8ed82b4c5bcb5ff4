// The units' locks on Windows: LockFileEx on a file per unit in %ProgramData%\quorvane\locks.
#include "unit_locks.h"
#include "windows_text.h"

#include <windows.h>

#include <shlobj.h>

namespace quorvane {

namespace {

LockAttempt problem(const std::filesystem::path& path, DWORD code) {
    LockAttempt attempt;
    attempt.problem = utf8FromWide(path.native()).value_or("") + ": " + systemMessage(code);
    return attempt;
}

} // namespace

void UnitLockHold::release() noexcept {
    if (handle_ != Closed)
        ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, Closed)));
}

std::filesystem::path UnitLocks::systemDirectory() {
    // The CSIDL form needs no known-folder GUID (whose library clashes with oleacc's).
    wchar_t data[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, data)))
        return {};
    return std::filesystem::path(data) / L"quorvane" / L"locks";
}

LockAttempt UnitLocks::take(const std::string& unitKey) const {
    // The folder and its parent, made by the first program that locks a unit.
    for (const std::filesystem::path& folder : {directory_.parent_path(), directory_})
        if (!::CreateDirectoryW(folder.c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS)
            return problem(folder, ::GetLastError());
    // Read access is enough to lock, and every user has it on a file another user made here.
    const std::filesystem::path path = fileFor(unitKey);
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return problem(path, ::GetLastError());
    OVERLAPPED whole{};
    LockAttempt attempt;
    if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                     MAXDWORD, &whole)) {
        attempt.hold = UnitLockHold(reinterpret_cast<std::intptr_t>(file));
        return attempt;
    }
    const DWORD code = ::GetLastError();
    ::CloseHandle(file);
    if (code != ERROR_LOCK_VIOLATION)
        return problem(path, code);
    attempt.heldElsewhere = true;
    return attempt;
}

} // namespace quorvane
