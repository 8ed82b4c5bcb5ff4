#include "device_path.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace quorvane {

namespace {

bool separator(char c) {
    return c == '&' || c == '#' || c == '\\';
}

// The four hex digits after the first `key` (such as "pid_") that starts a field of `text`.
std::optional<std::uint16_t> idField(const std::string& text, std::string_view key) {
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        if (at > 0 && !separator(text[at - 1]))
            continue;
        const std::string_view digits = std::string_view(text).substr(at + key.size(), 4);
        if (digits.size() != 4 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) {
                return std::isxdigit(c) != 0;
            }))
            continue;
        return static_cast<std::uint16_t>(std::stoul(std::string(digits), nullptr, 16));
    }
    return std::nullopt;
}

// The path without what tells the top-level collections of one device apart: the "&colNN"
// field of the hardware part and the last field of the instance part ("...&0&0001").
std::string unitOf(std::string text) {
    if (const auto col = text.find("&col"); col != std::string::npos)
        text.erase(col, text.find_first_of("#\\", col) - col);
    const auto instanceEnd = text.rfind('#');
    const auto instanceStart = instanceEnd == std::string::npos || instanceEnd == 0
                                   ? std::string::npos
                                   : text.rfind('#', instanceEnd - 1);
    if (instanceStart != std::string::npos) {
        const auto last = text.rfind('&', instanceEnd);
        if (last != std::string::npos && last > instanceStart)
            text.erase(last, instanceEnd - last);
    }
    return text;
}

} // namespace

std::optional<EnumeratedInterface> interfaceOfDevicePath(std::string_view path) {
    auto lower = [](unsigned char c) { return static_cast<char>(std::tolower(c)); };
    std::string text(path.size(), '\0');
    std::transform(path.begin(), path.end(), text.begin(), lower);
    const auto productId = idField(text, "pid_");
    if (!productId)
        return std::nullopt;
    EnumeratedInterface found;
    found.VendorID = idField(text, "vid_").value_or(0);
    found.ProductID = *productId;
    found.Unit = unitOf(text);
    return found;
}

bool isUsbDeviceInstance(std::string_view instanceId) {
    std::string text(instanceId.size(), '\0');
    std::transform(instanceId.begin(), instanceId.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto hardware = text.substr(0, text.find('\\', 4));
    return text.rfind("usb\\", 0) == 0 && hardware.find("&mi_") == std::string::npos;
}

} // namespace quorvane
