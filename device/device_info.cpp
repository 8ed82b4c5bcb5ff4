#include "device_info.h"

#include "text_encoding.h"

#include <array>
#include <cstdio>

namespace quorvane {

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
