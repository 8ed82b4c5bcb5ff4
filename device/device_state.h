// The device state the window owns for its whole life and hands to discovery and update.
#pragma once

#include "ApiDeclarations.h"
#include "device_handle.h"
#include "tarvex_protocol.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// The one unit a command talks to, known by what survives its restarts: where it is plugged,
// else its serial number; where neither is known, it is the one Tarvex on the bus.
struct UnitIdentity {
    std::string Place;        // EnumeratedInterface::Unit where UnitIsPlace; else empty
    std::string SerialNumber; // as read when it was chosen; empty when it has none
};

struct DeviceState {
    bool DeviceFound = false;
    DeviceHandle HidHandle;        // feature reports, attributes, capabilities
    DeviceHandle OverlappedHandle; // string queries
    HidAttributes Attributes;
    std::optional<HidCapabilities> Capabilities; // nothing when they could not be read
    bool LastResult = false;                     // success of the most recent platform call
    // The status report is received here; it grows to FeatureReportByteLength when a device
    // declares longer reports, so nothing is ever read past its end.
    std::vector<std::uint8_t> FeatureReport = std::vector<std::uint8_t>(ReportBufferSize, 0);
    std::int16_t ProgressFullWidth = 0; // twips
    std::string DevicePath;
    // The device's strings as the fields show them; ShowDeviceInfo keeps them.
    std::u16string Manufacturer, Product, SerialNumber;
    // Set by every discovery that found no Tarvex: the path of an interface with the Tarvex's
    // product ID that could not be opened because access to it was denied; else empty.
    std::string AccessDeniedPath;
    // Set likewise: an interface the enumeration names a Tarvex that opened but whose attributes
    // could not be read, and the system's words for it; else empty.
    std::string UnreadablePath, UnreadableCause;
    // What the enumeration told of DevicePath when the device was found; nothing where it
    // could not tell.
    std::optional<EnumeratedInterface> Listed;
    // Set by every discovery: each Tarvex unit (either mode, any vendor) present, once, in
    // enumeration order; with a Unit set, only that one. Before a command's first report there
    // must be exactly one.
    std::vector<EnumeratedInterface> TarvexUnits;
    // The unit a command talks to, from its first report on (or as --serial or --path chose
    // it): discovery then finds only this one and never opens another it can tell apart.
    std::optional<UnitIdentity> Unit;
    // Tarvex units seen while Unit was set that are not it: never sent a byte. Kept until the
    // next command, so its outcome can say they were there.
    std::vector<EnumeratedInterface> OtherUnits;
    // Set by a program with no one to close it (the command line): a wait gives up after this
    // long without any Tarvex on the bus. Unset, a wait goes on until the window is closed.
    std::optional<std::int64_t> AbsentLimitMs;
};

} // namespace quorvane
