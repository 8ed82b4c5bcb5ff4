#include "discovery.h"

#include "device_info.h"

namespace quorvane {

namespace {

bool isTarvex(std::uint16_t productId) {
    return productId == AppModeProductId || productId == BootModeProductId;
}

} // namespace

bool FindTheHid(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    s.DeviceFound = false;
    s.AccessDeniedPath.clear();
    const std::vector<std::string> paths = ctx.api.enumerateInterfaces();
    for (const std::string& path : paths) {
        s.DevicePath = path;
        const OpenResult opened = ctx.api.open(path, OpenMode::Plain);
        s.HidHandle = DeviceHandle::fromOpen(opened);
        if (opened.error == OpenError::AccessDenied && s.AccessDeniedPath.empty()) {
            const auto productId = ctx.api.enumeratedProductId(path);
            if (productId && isTarvex(*productId))
                s.AccessDeniedPath = path;
        }
        s.Attributes = HidAttributes{};
        // An interface that cannot be opened is rejected like one whose attributes fail.
        s.LastResult =
            s.HidHandle.isOpen() && ctx.api.getAttributes(s.HidHandle.raw(), s.Attributes);
        if (s.LastResult && isTarvex(s.Attributes.ProductID)) {
            s.DeviceFound = true;
            break;
        }
        if (auto closed = s.HidHandle.close(ctx.api))
            s.LastResult = *closed;
    }
    if (!s.DeviceFound)
        return false;
    ReadDeviceCaps(ctx);
    s.OverlappedHandle = DeviceHandle::fromOpen(ctx.api.open(s.DevicePath, OpenMode::Overlapped));
    return true;
}

void ReadDeviceCaps(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    HidCapabilities caps;
    s.LastResult = s.HidHandle.isOpen() && ctx.api.getCapabilities(s.HidHandle.raw(), caps);
    // Without them no report length is known; 0 makes every later report refuse to go out.
    s.Capabilities = s.LastResult ? caps : HidCapabilities{};
}

bool FindAndShowDevice(DeviceContext& ctx) {
    FindTheHid(ctx);
    ShowDeviceInfo(ctx);
    return ctx.state.DeviceFound;
}

WaitOutcome WaitForDevice(DeviceContext& ctx, WaitForm form,
                          std::optional<std::uint16_t> requiredProductId) {
    DeviceState& s = ctx.state;
    std::optional<std::int64_t> firstWrongSighting;
    // True when the poll's outcome ends the wait; handles the device seen in the wrong mode.
    auto settled = [&]() -> std::optional<WaitOutcome> {
        if (!s.DeviceFound)
            return std::nullopt;
        if (!requiredProductId || s.Attributes.ProductID == *requiredProductId)
            return WaitOutcome::Found;
        const std::int64_t now = ctx.api.nowMs();
        if (!firstWrongSighting)
            firstWrongSighting = now;
        if (now - *firstWrongSighting >= WrongModeLimitMs)
            return WaitOutcome::StayedInWrongMode;
        closeDeviceHandles(ctx);
        s.DeviceFound = false;
        return std::nullopt;
    };

    closeDeviceHandles(ctx);
    s.DeviceFound = false;
    if (form == WaitForm::InitialPoll) {
        ctx.api.sleep(DiscoveryPauseMs);
        FindTheHid(ctx);
        if (auto outcome = settled())
            return *outcome;
    }
    for (;;) {
        ctx.window.processEvents();
        if (ctx.window.closeRequested())
            return WaitOutcome::WindowClosed;
        ctx.api.sleep(DiscoveryPauseMs);
        FindAndShowDevice(ctx);
        if (auto outcome = settled())
            return *outcome;
    }
}

} // namespace quorvane
