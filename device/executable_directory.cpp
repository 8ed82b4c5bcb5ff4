#include "executable_directory.h"

namespace quorvane {

namespace {

bool isDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "C:", or "C:" behind a "\\?\" or "\\.\" prefix: a drive, whose root is written "C:\".
bool isDrive(std::wstring_view directory) {
    if (directory.size() == 6 &&
        (directory.starts_with(L"\\\\?\\") || directory.starts_with(L"\\\\.\\")))
        directory.remove_prefix(4);
    return directory.size() == 2 && isDriveLetter(directory[0]) && directory[1] == L':';
}

} // namespace

std::wstring directoryOfModulePath(std::wstring_view modulePath) {
    const std::size_t separator = modulePath.rfind(L'\\');
    if (separator == std::wstring_view::npos)
        return {};
    const std::wstring_view directory = modulePath.substr(0, separator);
    if (isDrive(directory))
        return std::wstring(modulePath.substr(0, separator + 1));
    return std::wstring(directory);
}

std::string directoryOfExecutablePath(std::string_view executablePath) {
    const std::size_t separator = executablePath.rfind('/');
    if (separator == std::string_view::npos)
        return {};
    if (separator == 0)
        return "/";
    return std::string(executablePath.substr(0, separator));
}

} // namespace quorvane
