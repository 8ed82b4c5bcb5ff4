#include "executable_directory.h"

#include <windows.h>

#include <vector>

namespace quorvane {

std::optional<std::filesystem::path::string_type> executableDirectory(std::size_t firstBufferSize) {
    // Paths may exceed MAX_PATH; the buffer grows until the whole path and its terminator fit.
    constexpr std::size_t Limit = 2 * 32768;
    for (std::size_t size = firstBufferSize > 0 ? firstBufferSize : 1; size <= Limit; size *= 2) {
        std::vector<wchar_t> buffer(size);
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::nullopt;
        if (length < size) // otherwise the path was cut short (ERROR_INSUFFICIENT_BUFFER)
            return directoryOfModulePath(std::wstring_view(buffer.data(), length));
    }
    return std::nullopt;
}

} // namespace quorvane
