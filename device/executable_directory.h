// The directory that holds the running program's executable, as the platform reports it, in
// the platform's own characters (UTF-16 on Windows), so that any directory name works.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// The directory part of an executable's full path as Windows reports it: everything before the
// last backslash. A drive's root directory keeps its backslash ("C:\", "\\?\C:\"), as Windows
// writes a root; nothing else is added or removed. Empty when the path has no backslash.
std::wstring directoryOfModulePath(std::wstring_view modulePath);

// The same for a POSIX path: everything before the last slash; the root directory stays "/".
std::string directoryOfExecutablePath(std::string_view executablePath);

// The running executable's directory (Windows: GetModuleFileNameW; Linux: /proc/self/exe);
// nothing when the platform cannot tell. The path is read into a buffer of `firstBufferSize`
// characters that doubles until the whole path fits; tests start it small.
std::optional<std::filesystem::path::string_type>
executableDirectory(std::size_t firstBufferSize = 260);

} // namespace quorvane
