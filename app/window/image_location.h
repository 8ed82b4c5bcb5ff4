// Where the program looks for its firmware image: beside its own executable.
#pragma once

#include <filesystem>

namespace quorvane {

// The executable's directory as Qt reports it, in the platform's own separators, followed by
// the image's file name. Needs a running QCoreApplication.
std::filesystem::path firmwareImageBesideExecutable();

} // namespace quorvane
