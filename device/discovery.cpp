#include "discovery.h"

#include "device_info.h"
#include "discovery_messages.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quorvane {

namespace {

bool isTarvex(std::uint16_t productId) {
    return productId == AppModeProductId || productId == BootModeProductId;
}

// Notes a Tarvex unit unless one of its interfaces was noted already.
void noteUnit(DeviceState& s, EnumeratedInterface unit) {
    if (std::none_of(s.TarvexUnits.begin(), s.TarvexUnits.end(),
                     [&](const EnumeratedInterface& u) { return u.Unit == unit.Unit; }))
        s.TarvexUnits.push_back(std::move(unit));
}

bool chosenOut(const DeviceState& s, const EnumeratedInterface& listed) {
    return s.Choice && std::find(s.Choice->Others.begin(), s.Choice->Others.end(), listed.Unit) !=
                           s.Choice->Others.end();
}

// The one Tarvex unit present that is not known to be another is the chosen one (or its
// successor after a restart). When there are several, each that answers with another serial
// number than the chosen one's is noted as another; its interface is opened for the string
// alone, never sent a report.
void setAsideOtherSerials(DeviceContext& ctx, const std::vector<std::string>& paths,
                          const std::vector<std::optional<EnumeratedInterface>>& listed) {
    UnitChoice& choice = *ctx.state.Choice;
    std::vector<std::size_t> candidates;
    std::vector<std::string> units;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!listed[i] || !isTarvex(listed[i]->ProductID) || chosenOut(ctx.state, *listed[i]))
            continue;
        candidates.push_back(i);
        if (std::find(units.begin(), units.end(), listed[i]->Unit) == units.end())
            units.push_back(listed[i]->Unit);
    }
    if (units.size() < 2 || choice.SerialNumber.empty())
        return;
    for (std::size_t i : candidates) {
        DeviceHandle h = DeviceHandle::fromOpen(ctx.api.open(paths[i], OpenMode::Plain));
        std::array<std::uint8_t, 2 * DeviceStringBytes + 1> text{};
        if (h.isOpen() &&
            ctx.api.getString(h.raw(), StringKind::SerialNumber, text.data(), DeviceStringBytes) &&
            utf8Text(deviceStringText(text.data(), DeviceStringBytes)) != choice.SerialNumber)
            choice.Others.push_back(listed[i]->Unit);
        h.close(ctx.api);
    }
}

} // namespace

bool FindTheHid(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    s.DeviceFound = false;
    s.AccessDeniedPath.clear();
    s.TarvexUnits.clear();
    const std::vector<std::string> paths = ctx.api.enumerateInterfaces();
    // Units are counted from what the enumeration tells, without opening anything.
    std::vector<std::optional<EnumeratedInterface>> listed;
    listed.reserve(paths.size());
    for (const std::string& path : paths)
        listed.push_back(ctx.api.enumerated(path));
    if (s.Choice)
        setAsideOtherSerials(ctx, paths, listed);
    for (const auto& l : listed)
        if (l && isTarvex(l->ProductID) && !chosenOut(s, *l))
            noteUnit(s, *l);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        if (listed[i] && chosenOut(s, *listed[i]))
            continue; // another unit than the one chosen: never opened
        s.DevicePath = path;
        const OpenResult opened = ctx.api.open(path, OpenMode::Plain);
        s.HidHandle = DeviceHandle::fromOpen(opened);
        if (opened.error == OpenError::AccessDenied && s.AccessDeniedPath.empty() && listed[i] &&
            isTarvex(listed[i]->ProductID))
            s.AccessDeniedPath = path;
        s.Attributes = HidAttributes{};
        // An interface that cannot be opened is rejected like one whose attributes fail.
        s.LastResult =
            s.HidHandle.isOpen() && ctx.api.getAttributes(s.HidHandle.raw(), s.Attributes);
        if (s.LastResult && isTarvex(s.Attributes.ProductID)) {
            s.DeviceFound = true;
            if (!listed[i]) // a unit the enumeration could not tell of
                noteUnit(s, {s.Attributes.VendorID, s.Attributes.ProductID, {}, path});
            break;
        }
        if (auto closed = s.HidHandle.close(ctx.api))
            s.LastResult = *closed;
    }
    if (!s.DeviceFound)
        return false;
    // The Tarvex itself was opened: a refused sibling collection needs no advice.
    s.AccessDeniedPath.clear();
    ReadDeviceCaps(ctx);
    s.OverlappedHandle = DeviceHandle::fromOpen(ctx.api.open(s.DevicePath, OpenMode::Overlapped));
    return true;
}

bool CountTarvexUnits(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    s.TarvexUnits.clear();
    bool shownListed = false;
    for (const std::string& path : ctx.api.enumerateInterfaces()) {
        shownListed |= path == s.DevicePath;
        if (auto listed = ctx.api.enumerated(path);
            listed && isTarvex(listed->ProductID) && !chosenOut(s, *listed))
            noteUnit(s, *listed);
    }
    return shownListed;
}

void ReadDeviceCaps(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    HidCapabilities caps;
    s.LastResult = s.HidHandle.isOpen() && ctx.api.getCapabilities(s.HidHandle.raw(), caps);
    // Without them no report length is known, and no report goes out.
    s.Capabilities = s.LastResult ? std::optional(caps) : std::nullopt;
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
    std::int64_t lastSighting = ctx.api.nowMs();
    bool toldAbsent = false;
    bool toldDenied = false;
    // The poll's outcome when it ends the wait; says, without stopping, what the user should
    // know meanwhile.
    auto settled = [&]() -> std::optional<WaitOutcome> {
        if (s.TarvexUnits.size() > 1)
            return WaitOutcome::SeveralUnits;
        const std::int64_t now = ctx.api.nowMs();
        if (s.DeviceFound || !s.TarvexUnits.empty()) // on the bus, though perhaps not openable
            lastSighting = now;
        if (!s.AccessDeniedPath.empty() && !std::exchange(toldDenied, true))
            ctx.window.notify(deniedAccessAdvice(ThisSystem, s.AccessDeniedPath, true));
        if (now - lastSighting >= AbsentNoticeMs && !std::exchange(toldAbsent, true))
            ctx.window.notify(notBackYetMessage());
        if (s.AbsentLimitMs && now - lastSighting >= *s.AbsentLimitMs)
            return WaitOutcome::StayedAway;
        if (!s.DeviceFound)
            return std::nullopt;
        if (!requiredProductId || s.Attributes.ProductID == *requiredProductId)
            return WaitOutcome::Found;
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
