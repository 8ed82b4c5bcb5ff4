// Finding the Tarvex among the HID interfaces present, and waiting for it to come back.
#pragma once

#include "device_context.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

// Finds the first interface, in enumeration order, whose product ID is the Tarvex's in either
// mode; opens both handles on it and reads its capabilities. With a Unit set, only that unit:
// another one the listing tells apart is not opened, one it cannot is opened for its serial
// number alone; either is noted in OtherUnits. Sets DeviceFound, Listed, TarvexUnits and
// AccessDeniedPath itself. Callers close both handles before calling it.
bool FindTheHid(DeviceContext& ctx);
// Counts the Tarvex units present into TarvexUnits, from the enumeration alone; true when the
// device found last (DevicePath) is still listed. Commands call it before their first report.
bool CountTarvexUnits(DeviceContext& ctx);
// Fills Capabilities from the device open on HidHandle; clears them when they cannot be read.
void ReadDeviceCaps(DeviceContext& ctx);
// FindTheHid, then ShowDeviceInfo: what the window does at load and every poll of a wait.
// Callers close both handles first. Returns DeviceFound.
bool FindAndShowDevice(DeviceContext& ctx);
// The unit of the device found, as a command pins it before its first report.
std::optional<UnitIdentity> identityOfShownUnit(const DeviceState& state);

enum class WaitForm {
    Plain,       // events before every poll, labels refreshed after every poll
    InitialPoll, // the first poll after a bare pause, without events or label refresh
};

enum class WaitOutcome {
    Found,             // DeviceFound, both handles open on the device
    WindowClosed,      // the user closed the window; nothing further was done
    StayedInWrongMode, // found only in the other mode for the rules' limit
    SeveralUnits,      // no Unit set and more than one Tarvex present; nothing was sent
    StayedAway,        // not found (away, or not to be opened) for AbsentLimitMs
};

struct WaitRules {
    // Sightings of the device under the other product ID do not end the wait...
    std::optional<std::uint16_t> requiredProductId;
    // ...until they have gone on this long without the device leaving the bus; nothing: never.
    std::optional<std::int64_t> wrongModeLimitMs = WrongModeLimitMs;
    // Told once, without stopping, after AbsentNoticeMs of such sightings; empty: nothing.
    std::string wrongModeNotice;

    // The device in `productId` (nothing: either mode), the other tolerated as long as usual.
    static WaitRules inMode(std::optional<std::uint16_t> productId) {
        WaitRules rules;
        rules.requiredProductId = productId;
        return rules;
    }
};

// Closes both handles and polls every 100 ms until the device is present, as the rules want
// it. Tells the user, once each and without stopping, when the device has been away for
// AbsentNoticeMs and when it came back on an interface this account may not open. Gives up
// after AbsentLimitMs without finding it, when that is set.
WaitOutcome WaitForDevice(DeviceContext& ctx, WaitForm form, const WaitRules& rules = {});

} // namespace quorvane
