#include "discovery.h"

#include "device_info.h"
#include "discovery_messages.h"
#include "tarvex_identity.h"
#include "text_encoding.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quorvane {

namespace {

bool sameUnit(const EnumeratedInterface& a, const EnumeratedInterface& b) {
    return a.Unit == b.Unit;
}

// Notes a Tarvex unit in `units` unless one of its interfaces was noted already.
void noteUnit(std::vector<EnumeratedInterface>& units, const EnumeratedInterface& unit) {
    if (std::none_of(units.begin(), units.end(),
                     [&](const EnumeratedInterface& u) { return sameUnit(u, unit); }))
        units.push_back(unit);
}

// What the listing alone tells of an interface against the unit a command talks to.
enum class Match { Yes, No, Unknown };

Match placeMatch(const DeviceState& s, const std::optional<EnumeratedInterface>& listed) {
    if (!s.Unit)
        return Match::Yes;
    if (!listed || !listed->UnitIsPlace || s.Unit->Place.empty())
        return Match::Unknown;
    return listed->Unit == s.Unit->Place ? Match::Yes : Match::No;
}

// The serial number of the interface open on `handle`: a string query, never a report.
std::optional<std::string> serialOf(HidPlatform& api, RawHandle handle) {
    std::array<std::uint8_t, 2 * DeviceStringBytes + 1> text{};
    if (!api.getString(handle, StringKind::SerialNumber, text.data(), DeviceStringBytes))
        return std::nullopt;
    return utf8Text(deviceStringText(text.data(), DeviceStringBytes));
}

// A Tarvex opened on HidHandle whose place the listing could not tell: the unit the command
// talks to by its serial number, or, where it has none, as the one Tarvex unit on the bus.
bool identifiedBySerial(DeviceContext& ctx) {
    const DeviceState& s = ctx.state;
    if (s.Unit->SerialNumber.empty())
        return s.TarvexUnits.size() <= 1;
    return serialOf(ctx.api, s.HidHandle.raw()) == s.Unit->SerialNumber;
}

} // namespace

bool FindTheHid(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    s.DeviceFound = false;
    s.AccessDeniedPath.clear();
    s.UnreadablePath.clear();
    s.TarvexUnits.clear();
    s.Listed.reset();
    const std::vector<std::string> paths = ctx.api.enumerateInterfaces();
    // Units are counted from what the enumeration tells, without opening anything; with a unit
    // to talk to, the others it tells apart are set aside unopened.
    std::vector<std::optional<EnumeratedInterface>> listed;
    std::vector<Match> match;
    listed.reserve(paths.size());
    match.reserve(paths.size());
    for (const std::string& path : paths) {
        listed.push_back(ctx.api.enumerated(path));
        match.push_back(placeMatch(s, listed.back()));
        if (!listed.back() || !isTarvexProduct(listed.back()->ProductID))
            continue;
        noteUnit(match.back() == Match::No ? s.OtherUnits : s.TarvexUnits, *listed.back());
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        if (match[i] == Match::No)
            continue; // another unit than the one the command talks to: never opened
        s.DevicePath = path;
        const OpenResult opened = ctx.api.open(path, OpenMode::Plain);
        s.HidHandle = DeviceHandle::fromOpen(opened);
        if (opened.error == OpenError::AccessDenied && s.AccessDeniedPath.empty() && listed[i] &&
            isTarvexProduct(listed[i]->ProductID))
            s.AccessDeniedPath = path;
        s.Attributes = HidAttributes{};
        // An interface that cannot be opened is rejected like one whose attributes fail.
        s.LastResult =
            s.HidHandle.isOpen() && ctx.api.getAttributes(s.HidHandle.raw(), s.Attributes);
        if (!s.LastResult && s.HidHandle.isOpen() && s.UnreadablePath.empty() && listed[i] &&
            isTarvexProduct(listed[i]->ProductID))
            s.UnreadablePath = path, s.UnreadableCause = ctx.api.lastError().text;
        if (s.LastResult && isTarvexProduct(s.Attributes.ProductID)) {
            const EnumeratedInterface seen = listed[i].value_or(EnumeratedInterface{
                s.Attributes.VendorID, s.Attributes.ProductID, {}, path, false});
            if (match[i] == Match::Yes || identifiedBySerial(ctx)) {
                s.DeviceFound = true;
                s.Listed = listed[i];
                noteUnit(s.TarvexUnits, seen); // a unit the enumeration could not tell of
                break;
            }
            // Told apart by its serial number: another unit, closed again untouched.
            std::erase_if(s.TarvexUnits,
                          [&](const EnumeratedInterface& u) { return sameUnit(u, seen); });
            noteUnit(s.OtherUnits, seen);
        }
        if (auto closed = s.HidHandle.close(ctx.api))
            s.LastResult = *closed;
    }
    if (!s.DeviceFound)
        return false;
    // The Tarvex itself was opened: a refused sibling collection needs no advice.
    s.AccessDeniedPath.clear();
    s.UnreadablePath.clear();
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
        const auto listed = ctx.api.enumerated(path);
        if (listed && isTarvexProduct(listed->ProductID))
            noteUnit(placeMatch(s, listed) == Match::No ? s.OtherUnits : s.TarvexUnits, *listed);
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

std::optional<UnitIdentity> identityOfShownUnit(const DeviceState& s) {
    if (!s.DeviceFound)
        return std::nullopt;
    const bool place = s.Listed && s.Listed->UnitIsPlace;
    return UnitIdentity{place ? s.Listed->Unit : std::string(), utf8Text(s.SerialNumber)};
}

WaitOutcome WaitForDevice(DeviceContext& ctx, WaitForm form, const WaitRules& rules) {
    DeviceState& s = ctx.state;
    std::optional<std::int64_t> firstWrongSighting;
    std::int64_t lastFound = ctx.api.nowMs();
    bool toldAbsent = false;
    bool toldDenied = false;
    bool toldWrongMode = false;
    // The poll's outcome when it ends the wait; says, without stopping, what the user should
    // know meanwhile.
    auto settled = [&]() -> std::optional<WaitOutcome> {
        if (!s.Unit && s.TarvexUnits.size() > 1)
            return WaitOutcome::SeveralUnits;
        const std::int64_t now = ctx.api.nowMs();
        if (s.DeviceFound)
            lastFound = now;
        else
            firstWrongSighting.reset(); // off the bus: a wrong mode is judged afresh
        if (!s.AccessDeniedPath.empty() && !std::exchange(toldDenied, true))
            ctx.window.notify(deniedAccessAdvice(ThisSystem, s.AccessDeniedPath, true));
        if (now - lastFound >= AbsentNoticeMs && !toldDenied && !std::exchange(toldAbsent, true))
            ctx.window.notify(notBackYetMessage());
        // On the bus but not to be opened counts as away: the advice was told.
        if (s.AbsentLimitMs && now - lastFound >= *s.AbsentLimitMs)
            return WaitOutcome::StayedAway;
        if (!s.DeviceFound)
            return std::nullopt;
        if (!rules.requiredProductId || s.Attributes.ProductID == *rules.requiredProductId)
            return WaitOutcome::Found;
        if (!firstWrongSighting)
            firstWrongSighting = now;
        const std::int64_t inWrongMode = now - *firstWrongSighting;
        if (rules.wrongModeLimitMs && inWrongMode >= *rules.wrongModeLimitMs)
            return WaitOutcome::StayedInWrongMode;
        if (!rules.wrongModeNotice.empty() && inWrongMode >= AbsentNoticeMs &&
            !std::exchange(toldWrongMode, true))
            ctx.window.notify(rules.wrongModeNotice);
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
