#include "windows_platform.h"

#include "device_path.h"
#include "windows_text.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

// The HID class library (hidsdi.h brings hidpi.h); mingw-w64 declares its C functions without a
// C++ guard.
extern "C" {
#include <hidsdi.h>
}

namespace quorvane {

namespace {

using DetailData = SP_DEVICE_INTERFACE_DETAIL_DATA_W;

// A device interface path holds at most 32767 UTF-16 units; no honest detail is larger.
constexpr DWORD MaxDetailBytes = offsetof(DetailData, DevicePath) + 32768 * sizeof(WCHAR);

HANDLE toWindows(RawHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

OpenError openErrorFrom(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return OpenError::AccessDenied;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
        return OpenError::NotFound;
    default:
        return OpenError::Other;
    }
}

// The path in a detail record that fills `bufferBytes` bytes, read up to its terminator or the
// end of the buffer, whichever comes first.
std::optional<std::string> pathFromDetail(const DetailData& detail, DWORD bufferBytes) {
    constexpr std::size_t offset = offsetof(DetailData, DevicePath);
    if (bufferBytes < offset + sizeof(WCHAR))
        return std::nullopt;
    const std::size_t units = (bufferBytes - offset) / sizeof(WCHAR);
    const WCHAR* begin = detail.DevicePath;
    const WCHAR* end = std::find(begin, begin + units, L'\0');
    if (end == begin)
        return std::nullopt;
    return utf8FromWide(std::wstring_view(begin, static_cast<std::size_t>(end - begin)));
}

// The path of one interface: a first call without a buffer reports the size its detail needs,
// a second fills a buffer of that size. Nothing when the interface has no usable path.
std::optional<std::string> interfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData,
                                         SP_DEVINFO_DATA& device) {
    DWORD required = 0;
    // Fails by design (ERROR_INSUFFICIENT_BUFFER); only the size it reports is wanted.
    ::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr);
    // A second try covers an interface whose detail grew between the two calls.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (required < offsetof(DetailData, DevicePath) + sizeof(WCHAR) ||
            required > MaxDetailBytes)
            return std::nullopt;
        // Whole records: aligned for the record, and at least `required` bytes long.
        std::vector<DetailData> buffer((required + sizeof(DetailData) - 1) / sizeof(DetailData));
        buffer.front().cbSize = sizeof(DetailData);
        const auto size = static_cast<DWORD>(buffer.size() * sizeof(DetailData));
        DWORD needed = 0;
        if (::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, buffer.data(), size, &needed,
                                               &device))
            return pathFromDetail(buffer.front(), size);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= size)
            return std::nullopt;
        required = needed;
    }
    return std::nullopt;
}

// A device node's instance ID, such as USB\VID_1D50&PID_2211\TX-000417.
std::wstring instanceId(DEVINST node) {
    std::array<WCHAR, MAX_DEVICE_ID_LEN + 1> id{};
    if (::CM_Get_Device_IDW(node, id.data(), MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return id.data();
}

// Where the USB device behind a HID device node is plugged: the first location path of its
// nearest USB device ancestor (not one of its interfaces), such as
// PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2), else its location information. Its application
// firmware and its bootloader are different devices to Windows, on the same port.
std::optional<std::string> usbPlaceOf(DEVINST node) {
    for (DEVINST parent = 0; ::CM_Get_Parent(&parent, node, 0) == CR_SUCCESS; node = parent) {
        const auto id = utf8FromWide(instanceId(parent));
        if (!id || !isUsbDeviceInstance(*id))
            continue;
        for (ULONG property : {ULONG{CM_DRP_LOCATION_PATHS}, ULONG{CM_DRP_LOCATION_INFORMATION}}) {
            std::array<WCHAR, 1024> text{};
            ULONG bytes = sizeof(text) - sizeof(WCHAR); // a terminator stays
            if (::CM_Get_DevNode_Registry_PropertyW(parent, property, nullptr, text.data(), &bytes,
                                                    0) == CR_SUCCESS &&
                text[0] != L'\0')
                if (auto place = utf8FromWide(text.data()))
                    return "usb:" + *place;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

WindowsPlatform::~WindowsPlatform() {
    // Whatever the program left open goes with the backend.
    for (const auto& [handle, path] : open_)
        ::CloseHandle(toWindows(handle));
}

void* WindowsPlatform::find(RawHandle handle) const {
    const std::lock_guard lock(mutex_);
    return open_.count(handle) == 1 ? toWindows(handle) : nullptr;
}

namespace {

SystemError systemError(unsigned long code) {
    return code == 0 ? SystemError{} : SystemError{code, systemMessage(code)};
}

CallResult failed(unsigned long code) {
    return {false, systemError(code)};
}

CallResult succeededOr(BOOL done) {
    return done != FALSE ? CallResult{true, {}} : failed(::GetLastError());
}

} // namespace

CallResult WindowsPlatform::reportFailed(RawHandle handle, unsigned long code) {
    CallResult result = failed(code);
    std::wstring path;
    {
        const std::lock_guard lock(mutex_);
        const auto it = open_.find(handle);
        if (code == 0 || it == open_.end())
            return result;
        path = it->second;
    }
    for (int waited = 0;; waited += GoneCheckPollMs) {
        // An open without access rights asks the driver nothing of the device.
        const HANDLE probe = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            if (openErrorFrom(::GetLastError()) == OpenError::NotFound) {
                result.failure = ReportFailure::DeviceGone;
                return result;
            }
        } else {
            ::CloseHandle(probe);
        }
        if (waited >= GoneCheckMs)
            return result;
        sleep(GoneCheckPollMs);
    }
}

// The HID class driver describes every report's length in 16 bits (HIDP_CAPS), and a USB
// control transfer carries at most 65535 bytes.
std::size_t WindowsPlatform::maxReportLength() const {
    return 65535;
}

// Windows names the vendor and product in every HID interface path; the product string would
// need the interface opened. The unit is the USB device's place where the configuration
// manager tells it, else what the path tells (which differs between the device's two modes).
std::vector<EnumeratedInterface> WindowsPlatform::enumerateInterfaces() {
    std::vector<EnumeratedInterface> listed;
    GUID hidGuid{};
    ::HidD_GetHidGuid(&hidGuid);
    const HDEVINFO set =
        ::SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return listed;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        // Fails with ERROR_NO_MORE_ITEMS past the last interface; any failure ends the list.
        if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData))
            break;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        const auto path = interfacePath(set, interfaceData, device);
        if (!path)
            continue;
        // A path that names no product is listed all the same, its IDs unknown (0).
        EnumeratedInterface found = interfaceOfDevicePath(*path).value_or(EnumeratedInterface{});
        found.Path = *path;
        if (found.Unit.empty())
            found.Unit = *path;
        if (auto place = usbPlaceOf(device.DevInst)) {
            found.Unit = std::move(*place);
            found.UnitIsPlace = true;
        }
        listed.push_back(std::move(found));
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return listed;
}

OpenResult WindowsPlatform::open(const std::string& path, OpenMode mode) {
    OpenResult result;
    const std::optional<std::wstring> widePath = wideFromUtf8(path);
    // A path Windows cannot name (not UTF-8, empty, or cut short by a zero) names no interface.
    if (!widePath || widePath->empty() || widePath->find(L'\0') != std::wstring::npos) {
        result.error = OpenError::NotFound;
        result.cause = systemError(ERROR_INVALID_NAME);
        return result;
    }
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = TRUE;
    const HANDLE handle = ::CreateFileW(
        widePath->c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        &security, OPEN_EXISTING, mode == OpenMode::Overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        const DWORD error = GetLastError();
        result.error = openErrorFrom(error);
        result.cause = systemError(error);
        return result;
    }
    result.handle = reinterpret_cast<RawHandle>(handle);
    const std::lock_guard lock(mutex_);
    open_.emplace(result.handle, *widePath);
    return result;
}

CallResult WindowsPlatform::close(RawHandle handle) {
    // Only a handle this backend opened and still holds is closed, and only once.
    {
        const std::lock_guard lock(mutex_);
        if (open_.erase(handle) == 0)
            return failed(0);
    }
    return succeededOr(::CloseHandle(toWindows(handle)));
}

CallResult WindowsPlatform::getAttributes(RawHandle handle, HidAttributes& attributes) {
    const HANDLE h = find(handle);
    if (h == nullptr)
        return failed(0);
    HIDD_ATTRIBUTES record{};
    record.Size = sizeof(record);
    if (!::HidD_GetAttributes(h, &record))
        return failed(GetLastError());
    attributes.VendorID = record.VendorID;
    attributes.ProductID = record.ProductID;
    attributes.VersionNumber = record.VersionNumber;
    return {true, {}};
}

CallResult WindowsPlatform::getCapabilities(RawHandle handle, HidCapabilities& capabilities) {
    const HANDLE h = find(handle);
    if (h == nullptr)
        return failed(0);
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!::HidD_GetPreparsedData(h, &preparsed) || preparsed == nullptr)
        return failed(GetLastError()); // nothing was obtained, so nothing is released
    HIDP_CAPS caps{};
    const NTSTATUS status = ::HidP_GetCaps(preparsed, &caps);
    ::HidD_FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS)
        return failed(0);
    capabilities.FeatureReportByteLength = caps.FeatureReportByteLength;
    return {true, {}};
}

CallResult WindowsPlatform::setFeature(RawHandle handle, const std::uint8_t* buffer,
                                       std::size_t length) {
    const HANDLE h = find(handle);
    if (h == nullptr || buffer == nullptr || length == 0 || length > ULONG_MAX)
        return reportFailed(0, 0);
    // HidD_SetFeature takes a writable buffer; the caller's report stays untouched.
    std::vector<std::uint8_t> report(buffer, buffer + length);
    if (::HidD_SetFeature(h, report.data(), static_cast<ULONG>(length)) != FALSE)
        return {true, {}};
    return reportFailed(handle, GetLastError());
}

CallResult WindowsPlatform::getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) {
    const HANDLE h = find(handle);
    if (h == nullptr || buffer == nullptr || length == 0 || length > ULONG_MAX)
        return reportFailed(0, 0);
    if (::HidD_GetFeature(h, buffer, static_cast<ULONG>(length)) != FALSE)
        return {true, {}};
    return reportFailed(handle, GetLastError());
}

CallResult WindowsPlatform::getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                                      std::size_t length) {
    const HANDLE h = find(handle);
    if (h == nullptr || (buffer == nullptr && length != 0) || length > ULONG_MAX)
        return failed(0);
    // The HID class library writes the string as UTF-16LE straight into the caller's buffer.
    const auto query = kind == StringKind::Manufacturer ? &::HidD_GetManufacturerString
                       : kind == StringKind::Product    ? &::HidD_GetProductString
                                                        : &::HidD_GetSerialNumberString;
    return succeededOr(query(h, buffer, static_cast<ULONG>(length)));
}

void WindowsPlatform::sleep(int milliseconds) {
    clock_.sleep(milliseconds);
}

std::int64_t WindowsPlatform::nowMs() {
    return clock_.nowMs();
}

} // namespace quorvane
