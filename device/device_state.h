// The device state the window owns for its whole life and hands to discovery and update: the
// device found, its two handles, what was read of it and what the fields show.
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

    // Closes HidHandle, then OverlappedHandle, each only if it is open.
    void closeHandles() {
        for (DeviceHandle* h : {&HidHandle, &OverlappedHandle})
            if (auto result = h->close())
                LastResult = *result;
    }
};

} // namespace quorvane
