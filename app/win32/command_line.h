// The program's arguments as Windows holds them, in UTF-16, so that any file name works.
#pragma once

#include <filesystem>
#include <vector>

namespace quorvane {

// The arguments after the program's own name (GetCommandLineW, CommandLineToArgvW).
std::vector<std::filesystem::path> commandLineArguments();

} // namespace quorvane
