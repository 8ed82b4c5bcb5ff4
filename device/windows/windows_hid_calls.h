// The SetupAPI and HID class library calls the Windows backend makes, gathered in one table.
// The backend only ever calls through this table; it holds the system's own functions unless a
// test puts its own in, to check exactly what the backend passes and how it treats the results.
#pragma once

#include <windows.h>

#include <setupapi.h>

// The HID class library (hidsdi.h brings hidpi.h); mingw-w64 declares its C functions without a
// C++ guard.
extern "C" {
#include <hidsdi.h>
}

namespace quorvane {

struct WindowsHidCalls {
    // Enumeration of the present HID interfaces (SetupAPI).
    decltype(&::HidD_GetHidGuid) HidD_GetHidGuid = &::HidD_GetHidGuid;
    decltype(&::SetupDiGetClassDevsW) SetupDiGetClassDevsW = &::SetupDiGetClassDevsW;
    decltype(&::SetupDiEnumDeviceInterfaces) SetupDiEnumDeviceInterfaces =
        &::SetupDiEnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) SetupDiGetDeviceInterfaceDetailW =
        &::SetupDiGetDeviceInterfaceDetailW;
    decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList =
        &::SetupDiDestroyDeviceInfoList;

    // Opening and closing an interface (kernel).
    decltype(&::CreateFileW) CreateFileW = &::CreateFileW;
    decltype(&::CloseHandle) CloseHandle = &::CloseHandle;

    // Queries and reports on an open interface (HID class library).
    decltype(&::HidD_GetAttributes) HidD_GetAttributes = &::HidD_GetAttributes;
    decltype(&::HidD_GetPreparsedData) HidD_GetPreparsedData = &::HidD_GetPreparsedData;
    decltype(&::HidP_GetCaps) HidP_GetCaps = &::HidP_GetCaps;
    decltype(&::HidD_FreePreparsedData) HidD_FreePreparsedData = &::HidD_FreePreparsedData;
    decltype(&::HidD_SetFeature) HidD_SetFeature = &::HidD_SetFeature;
    decltype(&::HidD_GetFeature) HidD_GetFeature = &::HidD_GetFeature;
    decltype(&::HidD_GetManufacturerString) HidD_GetManufacturerString =
        &::HidD_GetManufacturerString;
    decltype(&::HidD_GetProductString) HidD_GetProductString = &::HidD_GetProductString;
    decltype(&::HidD_GetSerialNumberString) HidD_GetSerialNumberString =
        &::HidD_GetSerialNumberString;
};

} // namespace quorvane
