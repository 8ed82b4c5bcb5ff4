#include "device_info.h"

#include <array>
#include <cstdio>

namespace quorvane {

namespace {

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

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

} // namespace

std::string utf8Text(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (isHighSurrogate(u) && i + 1 < text.size() && isLowSurrogate(text[i + 1]))
            appendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                                (text[++i] - 0xDC00));
        else
            appendUtf8(out, isHighSurrogate(u) || isLowSurrogate(u) ? 0xFFFD : u);
    }
    return out;
}

std::u16string deviceStringText(const std::uint8_t* buffer, std::size_t length) {
    std::u16string text;
    const std::size_t units = length / 2;
    auto unitAt = [&](std::size_t i) {
        return static_cast<char16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8));
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t u = unitAt(i);
        if (u == 0)
            break;
        if (isHighSurrogate(u) && i + 1 < units && isLowSurrogate(unitAt(i + 1))) {
            text += u;
            text += unitAt(++i);
        } else {
            text += isHighSurrogate(u) || isLowSurrogate(u) ? u'\uFFFD' : u;
        }
    }
    return text;
}

std::u16string versionText(std::uint16_t versionNumber) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%u.%X", static_cast<unsigned>(versionNumber >> 8),
                  static_cast<unsigned>(versionNumber & 0xFF));
    return {text.data(), text.data() + std::char_traits<char>::length(text.data())};
}

std::optional<std::u16string> queryDeviceString(DeviceContext& ctx, StringKind kind) {
    DeviceState& s = ctx.state;
    // Zero-filled beyond the bytes the query may fill, so the text always ends.
    std::array<std::uint8_t, 2 * DeviceStringBytes + 1> buffer{};
    s.LastResult =
        s.OverlappedHandle.isOpen() &&
        ctx.api.getString(s.OverlappedHandle.raw(), kind, buffer.data(), DeviceStringBytes).ok;
    if (!s.LastResult)
        return std::nullopt;
    return deviceStringText(buffer.data(), DeviceStringBytes);
}

void ShowDeviceInfo(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    WindowSeam& w = ctx.window;
    if (!s.DeviceFound) {
        s.Manufacturer.clear(), s.Product.clear(), s.SerialNumber.clear();
        for (InfoLabel label : {InfoLabel::Manufacturer, InfoLabel::Product,
                                InfoLabel::SerialNumber, InfoLabel::Version})
            w.setLabel(label, {});
        return;
    }
    if (auto text = queryDeviceString(ctx, StringKind::Manufacturer)) {
        w.setLabel(InfoLabel::Manufacturer, s.Manufacturer = *text);
        w.setLabel(InfoLabel::Version, versionText(s.Attributes.VersionNumber));
    }
    if (auto text = queryDeviceString(ctx, StringKind::Product))
        w.setLabel(InfoLabel::Product, s.Product = *text);
    if (auto text = queryDeviceString(ctx, StringKind::SerialNumber))
        w.setLabel(InfoLabel::SerialNumber, s.SerialNumber = *text);
}

} // namespace quorvane
