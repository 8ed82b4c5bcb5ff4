// Finding the Tarvex among the HID interfaces present, and waiting for it to come back.
#pragma once

#include "device_context.h"
#include "unit_identity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// What one look at the bus found, beside the device itself (DeviceState).
struct Findings {
    // Each Tarvex unit present (either mode, any vendor), once, in enumeration order; with a
    // target, only the units that may be it.
    std::vector<EnumeratedInterface> tarvexUnits;
    // Tarvex units told apart from the target: never sent a byte, never opened for a report.
    std::vector<EnumeratedInterface> otherUnits;
    // With a target known by its serial number alone: two units answer to it; none was taken.
    bool ambiguous = false;
    // When no Tarvex was found: one the enumeration names that could not be opened because
    // access was denied, or that opened but whose attributes could not be read (and why).
    std::string accessDeniedPath;
    std::string unreadablePath, unreadableCause;
    // What the enumeration told of the device found.
    std::optional<EnumeratedInterface> listed;
};

// Finds the first interface, in enumeration order, whose product ID is the Tarvex's in either
// mode; opens both handles on it and reads its capabilities. With a target, only that unit: one
// whose place differs is never opened, one whose serial number differs is closed again
// untouched. Sets DeviceFound. The handles held before are closed first.
Findings FindTheHid(DeviceContext& ctx, const UnitIdentity* target = nullptr);
// Fills Capabilities from the device open on HidHandle; clears them when they cannot be read.
void ReadDeviceCaps(DeviceContext& ctx);
// FindTheHid, then ShowDeviceInfo: what the window does at load and every poll of a wait.
Findings FindAndShowDevice(DeviceContext& ctx, const UnitIdentity* target = nullptr);
// The unit of the device found, as a command pins it before its first report.
std::optional<UnitIdentity> identityOf(const DeviceState& state, const Findings& found);

// How long a front end waits for the Tarvex, and what it tells meanwhile.
struct WaitPolicy {
    // Gives up when the Tarvex has not been seen as required for this long since the wait
    // began; nothing: never (the window, whose user closes it).
    std::optional<std::int64_t> absentLimitMs;
    // The device seen only in the other mode for this long without leaving the bus, or, leaving
    // and coming back so, for the longer time since it was first seen so: it stays there.
    std::int64_t wrongModeLimitMs = 10000;
    std::int64_t wrongModeTotalMs = 60000;
};

enum class WaitForm {
    Plain,       // events before every poll, labels refreshed after every poll
    InitialPoll, // the first poll after a bare pause, without events or label refresh
};

enum class WaitOutcome {
    Found,             // DeviceFound, both handles open on the device
    WindowClosed,      // the user closed the window; nothing further was done
    StayedInWrongMode, // found only in the other mode for the policy's limit
    SeveralUnits,      // several units may be the one wanted; nothing was sent
    StayedAway,        // not found as required (away, or not to be opened) for the absent limit
};

struct WaitRules {
    // Sightings of the device under the other product ID do not end the wait...
    std::optional<std::uint16_t> requiredProductId;
    // ...until the policy's wrong-mode limits; false: never (after the transfer, in a window,
    // the bootloader may write its flash for as long as it takes).
    bool wrongModeEnds = true;
    // Told once, without stopping, after AbsentNoticeMs of such sightings; empty: nothing.
    std::string wrongModeNotice = {};
};

struct WaitResult {
    WaitOutcome outcome = WaitOutcome::StayedAway;
    Findings found; // of the last poll
    // Tarvex units told apart from the target at any poll of the wait.
    std::vector<EnumeratedInterface> otherUnits;
};

// Polls every 100 ms until the device (the target, when one is given) is present as the rules
// want it. Tells the user, once each and without stopping, when the device has been away for
// AbsentNoticeMs and when it came back on an interface this account may not open.
WaitResult WaitForDevice(DeviceContext& ctx, WaitForm form, const WaitRules& rules,
                         const WaitPolicy& policy, const UnitIdentity* target = nullptr);

// Notes `unit` in `units` unless one of its interfaces was noted already.
void noteUnit(std::vector<EnumeratedInterface>& units, const EnumeratedInterface& unit);

} // namespace quorvane
