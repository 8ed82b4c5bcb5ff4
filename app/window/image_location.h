// Where the program looks for its firmware image: the one file named on its command line (a file
// opened with it from the desktop, or dropped on it), else quorvane.bin beside its executable.
#pragma once

#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace quorvane {

// The executable's directory as Qt reports it, in the platform's own separators, followed by
// the image's file name. Needs a running QCoreApplication.
std::filesystem::path firmwareImageBesideExecutable();

// The image named by the program's arguments (those after its own name, each as the system
// passed it): the one given, made absolute, or the one beside the executable when none is;
// nothing when more than one is given.
inline std::optional<std::filesystem::path>
firmwareImageFromArguments(const std::vector<std::filesystem::path>& arguments) {
    if (arguments.size() > 1)
        return std::nullopt;
    if (arguments.empty())
        return firmwareImageBesideExecutable();
    std::error_code error;
    std::filesystem::path image = std::filesystem::absolute(arguments.front(), error);
    return error ? arguments.front() : image;
}

// The refusal of more than one argument, for the programs to print or show.
inline constexpr const char* ImageArgumentsUsage =
    "takes at most one argument: the firmware image to send (without one, quorvane.bin beside "
    "the program).";

} // namespace quorvane
