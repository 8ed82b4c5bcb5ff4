#include "executable_directory.h"

#include <unistd.h>

#include <vector>

namespace quorvane {

std::optional<std::filesystem::path::string_type> executableDirectory(std::size_t firstBufferSize) {
    // readlink reports no length in advance; the buffer grows until the target fits with room.
    for (std::size_t size = firstBufferSize > 0 ? firstBufferSize : 1;
         size <= std::size_t{2} * 65536; size *= 2) {
        std::vector<char> buffer(size);
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(length) < buffer.size())
            return directoryOfExecutablePath(
                std::string_view(buffer.data(), static_cast<std::size_t>(length)));
    }
    return std::nullopt;
}

} // namespace quorvane
