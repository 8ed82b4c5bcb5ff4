// The history file's writes on Windows.
#include "history_file.h"

#include <windows.h>

namespace quorvane {

namespace history_io {

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Writes all of `bytes` in one call and flushes them to disk; closes the file.
bool writeAndClose(HANDLE file, std::string_view bytes) {
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr) != FALSE &&
                    written == bytes.size() && ::FlushFileBuffers(file) != FALSE;
    return ::CloseHandle(file) != FALSE && ok;
}

} // namespace

FileLock::FileLock(const std::filesystem::path& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, ShareAll, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED whole{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        ::CloseHandle(file);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

FileLock::~FileLock() {
    if (handle_ != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); // releases the lock
}

bool appendDurably(const std::filesystem::path& path, std::string_view bytes) {
    // Append-only access: Windows puts every write at the end of the file, whoever else writes.
    return writeAndClose(::CreateFileW(path.c_str(), FILE_APPEND_DATA, ShareAll, nullptr,
                                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr),
                         bytes);
}

bool replaceDurably(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::path temporary = path;
    temporary += ".new";
    if (!writeAndClose(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr),
                       bytes) ||
        !::MoveFileExW(temporary.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace history_io

} // namespace quorvane
