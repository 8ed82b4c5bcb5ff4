// The history file's input and output on Windows.
#include "history_file.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

namespace quorvane {

namespace history_io {

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int LockPollMs = 20;

bool fail(std::string& error, DWORD code) {
    error = std::system_category().message(static_cast<int>(code));
    return false;
}

// Opens `path` and keeps the handle only when it names a file on a disk (not a directory, a
// pipe or a device); INVALID_HANDLE_VALUE otherwise, with `error` set.
HANDLE openRegular(const std::filesystem::path& path, DWORD access, DWORD creation,
                   std::string& error) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "it is not a regular file";
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE file = ::CreateFileW(path.c_str(), access, ShareAll, nullptr, creation,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail(error, ::GetLastError());
    } else if (::GetFileType(file) != FILE_TYPE_DISK) {
        error = "it is not a regular file";
        ::CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Writes all of `bytes` in one call and flushes them to disk; closes the file.
bool writeAndClose(HANDLE file, std::string_view bytes, std::string& error) {
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                          nullptr) != FALSE ||
              fail(error, ::GetLastError());
    if (ok && written != bytes.size())
        ok = fail(error, ERROR_DISK_FULL);
    ok = ok && (::FlushFileBuffers(file) != FALSE || fail(error, ::GetLastError()));
    return ::CloseHandle(file) != FALSE && ok;
}

} // namespace

FileLock::FileLock(const std::filesystem::path& path, int waitMs) {
    const HANDLE file = openRegular(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, error_);
    if (file == INVALID_HANDLE_VALUE)
        return;
    for (int waited = 0;; waited += LockPollMs) {
        OVERLAPPED whole{};
        if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                         MAXDWORD, &whole)) {
            handle_ = reinterpret_cast<std::intptr_t>(file);
            return;
        }
        if (const DWORD code = ::GetLastError(); code != ERROR_LOCK_VIOLATION) {
            fail(error_, code);
            break;
        }
        if (waited >= waitMs) {
            error_ = "another program held its lock for over " + std::to_string(waitMs) + " ms";
            break;
        }
        ::Sleep(LockPollMs);
    }
    ::CloseHandle(file);
}

FileLock::~FileLock() {
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); // releases the lock
}

bool readTail(const std::filesystem::path& path, std::uintmax_t maxBytes, std::string& tail,
              std::uintmax_t& size, std::string& error) {
    tail.clear();
    size = 0;
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND))
        return true; // no history yet
    const HANDLE file = openRegular(path, GENERIC_READ, OPEN_EXISTING, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER length{};
    bool ok = ::GetFileSizeEx(file, &length) != FALSE || fail(error, ::GetLastError());
    if (ok) {
        size = static_cast<std::uintmax_t>(length.QuadPart);
        const std::uintmax_t wanted = std::min(size, maxBytes);
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(size - wanted);
        tail.resize(static_cast<std::size_t>(wanted));
        DWORD got = 0;
        ok = (::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != FALSE &&
              ::ReadFile(file, tail.data(), static_cast<DWORD>(tail.size()), &got, nullptr) !=
                  FALSE) ||
             fail(error, ::GetLastError());
        tail.resize(ok ? got : 0);
    }
    ::CloseHandle(file);
    return ok;
}

bool appendDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error) {
    // Append-only access: Windows puts every write at the end of the file, whoever else writes.
    const HANDLE file = openRegular(path, FILE_APPEND_DATA, OPEN_ALWAYS, error);
    return file != INVALID_HANDLE_VALUE && writeAndClose(file, bytes, error);
}

bool replaceDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error) {
    std::filesystem::path temporary = path;
    temporary += ".new";
    const HANDLE file = openRegular(temporary, GENERIC_WRITE, CREATE_ALWAYS, error);
    if (file == INVALID_HANDLE_VALUE || !writeAndClose(file, bytes, error) ||
        (!::MoveFileExW(temporary.c_str(), path.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) &&
         !fail(error, ::GetLastError()))) {
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace history_io

} // namespace quorvane
