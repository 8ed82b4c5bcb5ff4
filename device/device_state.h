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

// The unit a command works on when several may be connected (the command line's --serial or
// --path). It is followed through its restarts by its serial number, or as the one Tarvex unit
// on the bus that is not known to be another.
struct UnitChoice {
    std::string SerialNumber;        // as read when it was chosen; empty when it has none
    std::vector<std::string> Others; // units (EnumeratedInterface::Unit) known not to be it
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
    // Set by every discovery: each Tarvex unit (either mode, any vendor) present, once, in
    // enumeration order. More than one, and no command sends a report.
    std::vector<EnumeratedInterface> TarvexUnits;
    // Set by a program that chose one unit among several: discovery neither opens nor counts
    // the others.
    std::optional<UnitChoice> Choice;
    // Set by a program with no one to close it (the command line): a wait gives up after this
    // long without any Tarvex on the bus. Unset, a wait goes on until the window is closed.
    std::optional<std::int64_t> AbsentLimitMs;
};

} // namespace quorvane
