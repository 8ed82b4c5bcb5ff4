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
};

} // namespace quorvane
