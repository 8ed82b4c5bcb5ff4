#include "discovery.h"

#include "device_info.h"
#include "discovery_messages.h"
#include "interface_reading.h"
#include "tarvex_identity.h"
#include "text_encoding.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quorvane {

namespace {

// What the listing alone tells of an interface against the unit a command talks to.
enum class Place { Same, Other, Unknown };

Place placeOf(const UnitIdentity* target, const EnumeratedInterface& listed) {
    if (target == nullptr || !listed.UnitIsPlace || target->Place.empty())
        return Place::Unknown;
    return listed.Unit == target->Place ? Place::Same : Place::Other;
}

// The serial number of the interface open on `handle`, from a string query (never a report);
// nothing when the query failed or the device names none: then it tells nothing.
std::optional<std::string> serialOf(HidPlatform& api, RawHandle handle) {
    std::array<std::uint8_t, 2 * DeviceStringBytes + 1> text{};
    if (!api.getString(handle, StringKind::SerialNumber, text.data(), DeviceStringBytes))
        return std::nullopt;
    std::string serial = utf8Text(deviceStringText(text.data(), DeviceStringBytes));
    return serial.empty() ? std::nullopt : std::optional(std::move(serial));
}

void forget(std::vector<EnumeratedInterface>& units, const EnumeratedInterface& unit) {
    std::erase_if(units, [&](const EnumeratedInterface& u) { return u.Unit == unit.Unit; });
}

// Takes the interface opened in `i` as the device found.
void take(DeviceContext& ctx, Findings& f, OpenedInterface& i) {
    DeviceState& s = ctx.state;
    s.DeviceFound = true;
    s.DevicePath = i.listed.Path;
    s.Attributes = i.attributes;
    s.HidHandle = std::move(i.handle);
    f.listed = i.listed;
    // The Tarvex itself was opened: a refused sibling collection needs no advice.
    f.accessDeniedPath.clear();
    f.unreadablePath.clear();
    f.unreadableCause.clear();
    ReadDeviceCaps(ctx);
    s.OverlappedHandle = DeviceHandle(ctx.api, s.DevicePath, OpenMode::Overlapped);
}

} // namespace

void noteUnit(std::vector<EnumeratedInterface>& units, const EnumeratedInterface& unit) {
    if (std::none_of(units.begin(), units.end(),
                     [&](const EnumeratedInterface& u) { return u.Unit == unit.Unit; }))
        units.push_back(unit);
}

Findings FindTheHid(DeviceContext& ctx, const UnitIdentity* target) {
    DeviceState& s = ctx.state;
    s.closeHandles();
    s.DeviceFound = false;
    Findings f;
    const std::vector<EnumeratedInterface> listing = ctx.api.enumerateInterfaces();
    // Units are counted from what the enumeration tells, without opening anything; those it
    // tells apart from the target are set aside unopened.
    for (const EnumeratedInterface& l : listing)
        if (isTarvexProduct(l.ProductID))
            noteUnit(placeOf(target, l) == Place::Other ? f.otherUnits : f.tarvexUnits, l);

    // With a target: every interface that may be it, the one in its place first.
    std::vector<OpenedInterface> sure, unsure;
    for (const EnumeratedInterface& l : listing) {
        const Place place = placeOf(target, l);
        if (!mayBeTarvex(l) || place == Place::Other)
            continue;
        OpenedInterface i = openInterface(ctx.api, l);
        const bool namedTarvex = isTarvexProduct(l.ProductID);
        s.LastResult = i.attributesRead;
        if (!i.handle.isOpen()) {
            if (i.openError == OpenError::AccessDenied && namedTarvex && f.accessDeniedPath.empty())
                f.accessDeniedPath = l.Path;
            continue;
        }
        if (!i.attributesRead) {
            if (namedTarvex && f.unreadablePath.empty())
                f.unreadablePath = l.Path, f.unreadableCause = i.attributesCause.text;
            continue;
        }
        if (!isTarvexProduct(i.attributes.ProductID))
            continue;
        i.listed.VendorID = i.attributes.VendorID;
        i.listed.ProductID = i.attributes.ProductID;
        noteUnit(f.tarvexUnits, i.listed); // a unit the enumeration could not tell of
        if (target == nullptr) {
            take(ctx, f, i);
            return f;
        }
        // Where both serial numbers are known and differ it is another unit, wherever it is
        // plugged; a query that failed tells nothing.
        const auto serial =
            target->SerialNumber.empty() ? std::nullopt : serialOf(ctx.api, i.handle.raw());
        if (serial && *serial != target->SerialNumber) {
            forget(f.tarvexUnits, i.listed);
            noteUnit(f.otherUnits, i.listed);
            continue; // closed again untouched
        }
        (place == Place::Same ? sure : unsure).push_back(std::move(i));
    }
    if (!sure.empty()) {
        take(ctx, f, sure.front());
        return f;
    }
    // Known by its serial number alone (or by being the one Tarvex): two units that both
    // answer to it cannot be told apart, and neither is taken.
    std::vector<EnumeratedInterface> answering;
    for (const OpenedInterface& i : unsure)
        noteUnit(answering, i.listed);
    if (answering.size() > 1)
        f.ambiguous = true;
    else if (!unsure.empty())
        take(ctx, f, unsure.front());
    return f;
}

void ReadDeviceCaps(DeviceContext& ctx) {
    DeviceState& s = ctx.state;
    HidCapabilities caps;
    s.LastResult = s.HidHandle.isOpen() && ctx.api.getCapabilities(s.HidHandle.raw(), caps).ok;
    // Without them no report length is known, and no report goes out.
    s.Capabilities = s.LastResult ? std::optional(caps) : std::nullopt;
}

Findings FindAndShowDevice(DeviceContext& ctx, const UnitIdentity* target) {
    Findings found = FindTheHid(ctx, target);
    ShowDeviceInfo(ctx);
    return found;
}

std::optional<UnitIdentity> identityOf(const DeviceState& s, const Findings& found) {
    if (!s.DeviceFound)
        return std::nullopt;
    const bool place = found.listed && found.listed->UnitIsPlace;
    return UnitIdentity{place ? found.listed->Unit : std::string(), utf8Text(s.SerialNumber)};
}

WaitResult WaitForDevice(DeviceContext& ctx, WaitForm form, const WaitRules& rules,
                         const WaitPolicy& policy, const UnitIdentity* target) {
    DeviceState& s = ctx.state;
    WaitResult result;
    const std::int64_t start = ctx.api.nowMs();
    // Since the device was first seen in the other mode, and since it last came so onto the
    // bus: a device that keeps restarting so is judged by the first, one that stays by both.
    std::optional<std::int64_t> firstWrong, wrongSince;
    std::int64_t lastSeen = start; // in either mode
    bool toldAbsent = false;
    bool toldDenied = false;
    bool toldWrongMode = false;
    // The poll's outcome when it ends the wait; says, without stopping, what the user should
    // know meanwhile.
    auto settled = [&]() -> std::optional<WaitOutcome> {
        const Findings& f = result.found;
        for (const EnumeratedInterface& unit : f.otherUnits)
            noteUnit(result.otherUnits, unit);
        if (f.ambiguous || (target == nullptr && f.tarvexUnits.size() > 1))
            return WaitOutcome::SeveralUnits;
        if (s.DeviceFound &&
            (!rules.requiredProductId || s.Attributes.ProductID == *rules.requiredProductId))
            return WaitOutcome::Found;
        const std::int64_t now = ctx.api.nowMs();
        if (s.DeviceFound) {
            lastSeen = now;
            firstWrong = firstWrong.value_or(now);
            wrongSince = wrongSince.value_or(now);
        } else {
            wrongSince.reset(); // off the bus: a restart, judged afresh
        }
        if (!f.accessDeniedPath.empty() && !std::exchange(toldDenied, true))
            ctx.window.notify(deniedAccessAdvice(ThisSystem, f.accessDeniedPath, true));
        if (now - lastSeen >= AbsentNoticeMs && !toldDenied && !std::exchange(toldAbsent, true))
            ctx.window.notify(notBackYetMessage());
        if (firstWrong && !rules.wrongModeNotice.empty() && now - *firstWrong >= AbsentNoticeMs &&
            !std::exchange(toldWrongMode, true))
            ctx.window.notify(rules.wrongModeNotice);
        const bool wrongTooLong = rules.wrongModeEnds && firstWrong &&
                                  (now - *firstWrong >= policy.wrongModeTotalMs ||
                                   (wrongSince && now - *wrongSince >= policy.wrongModeLimitMs));
        // On the bus but not to be opened counts as away: the advice was told.
        if (wrongTooLong || (policy.absentLimitMs && now - start >= *policy.absentLimitMs))
            return firstWrong ? WaitOutcome::StayedInWrongMode : WaitOutcome::StayedAway;
        s.closeHandles();
        s.DeviceFound = false;
        return std::nullopt;
    };

    s.closeHandles();
    s.DeviceFound = false;
    if (form == WaitForm::InitialPoll) {
        ctx.api.sleep(DiscoveryPauseMs);
        result.found = FindTheHid(ctx, target);
        if (auto outcome = settled()) {
            result.outcome = *outcome;
            return result;
        }
    }
    for (;;) {
        ctx.window.processEvents();
        if (ctx.window.closeRequested()) {
            result.outcome = WaitOutcome::WindowClosed;
            return result;
        }
        ctx.api.sleep(DiscoveryPauseMs);
        result.found = FindAndShowDevice(ctx, target);
        if (auto outcome = settled()) {
            result.outcome = *outcome;
            return result;
        }
    }
}

} // namespace quorvane
