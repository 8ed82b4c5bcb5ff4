#include "device_path.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace quorvane {

std::optional<std::uint16_t> productIdInDevicePath(std::string_view path) {
    auto lower = [](unsigned char c) { return static_cast<char>(std::tolower(c)); };
    std::string text(path.size(), '\0');
    std::transform(path.begin(), path.end(), text.begin(), lower);
    for (std::size_t at = text.find("pid_"); at != std::string::npos;
         at = text.find("pid_", at + 1)) {
        // "pid_" must start a field: the path's start or after a separator.
        if (at > 0 && text[at - 1] != '&' && text[at - 1] != '#' && text[at - 1] != '\\')
            continue;
        const std::string_view digits = std::string_view(text).substr(at + 4, 4);
        if (digits.size() != 4 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) {
                return std::isxdigit(c) != 0;
            }))
            continue;
        return static_cast<std::uint16_t>(std::stoul(std::string(digits), nullptr, 16));
    }
    return std::nullopt;
}

} // namespace quorvane
