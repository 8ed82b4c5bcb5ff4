#include "image_location.h"

#include "executable_directory.h"
#include "firmware_image.h"

namespace quorvane {

std::filesystem::path firmwareImageBesideExecutable() {
    // The directory exactly as Windows reports it; the working directory if it cannot tell.
    return firmwareImagePath(executableDirectory().value_or(L"."));
}

} // namespace quorvane
