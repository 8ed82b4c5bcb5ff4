#include "command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

namespace quorvane {

std::vector<std::filesystem::path> commandLineArguments() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr)
        return {};
    std::vector<std::filesystem::path> arguments(words + std::min(count, 1), words + count);
    LocalFree(static_cast<HLOCAL>(words));
    return arguments;
}

} // namespace quorvane
