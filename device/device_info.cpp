#include "device_info.h"

#include <array>
#include <cstdio>

namespace quorvane {

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

std::string deviceStringText(const std::uint8_t* buffer, std::size_t length) {
    std::string text;
    const std::size_t units = length / 2;
    auto unitAt = [&](std::size_t i) {
        return static_cast<char16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = unitAt(i);
        if (u == 0)
            break;
        if (isHighSurrogate(u) && i + 1 < units && isLowSurrogate(unitAt(i + 1))) {
            const char16_t low = unitAt(++i);
            appendUtf8(text,
                       0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (low - 0xDC00));
        } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
            appendUtf8(text, 0xFFFD);
        } else {
            appendUtf8(text, u);
        }
    }
    return text;
}

std::string versionText(std::uint16_t versionNumber) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), " %u.%X", static_cast<unsigned>(versionNumber >> 8),
                  static_cast<unsigned>(versionNumber & 0xFF));
    return text.data();
}

void ShowDeviceInfo(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    WindowSeam& w = ctx.window;
    if (!s.DeviceFound) {
        w.setLabel(InfoLabel::Manufacturer, "");
        w.setLabel(InfoLabel::Product, "");
        w.setLabel(InfoLabel::SerialNumber, "");
        w.setLabel(InfoLabel::Version, " ");
        return;
    }
    // One zero-filled buffer for the three queries; each may fill only its first 100 bytes.
    std::array<std::uint8_t, 2 * DeviceStringBytes + 1> buffer{};
    auto query = [&](StringKind kind) {
        buffer.fill(0);
        s.LastResult =
            s.OverlappedHandle.isOpen() &&
            ctx.api.getString(s.OverlappedHandle.raw(), kind, buffer.data(), DeviceStringBytes);
        return s.LastResult;
    };
    if (query(StringKind::Manufacturer)) {
        w.setLabel(InfoLabel::Manufacturer,
                   " " + deviceStringText(buffer.data(), DeviceStringBytes));
        w.setLabel(InfoLabel::Version, versionText(s.Attributes.VersionNumber));
    }
    if (query(StringKind::Product))
        w.setLabel(InfoLabel::Product, " " + deviceStringText(buffer.data(), DeviceStringBytes));
    if (query(StringKind::SerialNumber))
        w.setLabel(InfoLabel::SerialNumber,
                   " " + deviceStringText(buffer.data(), DeviceStringBytes));
}

} // namespace quorvane
