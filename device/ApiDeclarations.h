// The platform seam: every operation the program performs on HID interfaces, and the records
// they fill. Each backend (linux/, windows/, the virtual Tarvex in virtual/) implements this
// contract in a folder of its own; the build chooses which ones are compiled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// What the attributes query reports of an interface. Only ProductID and VersionNumber steer the
// program; VendorID is kept for display and logs.
struct HidAttributes {
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::uint16_t VersionNumber = 0;
};

// What the capabilities query reports. FeatureReportByteLength counts the report-ID byte.
struct HidCapabilities {
    std::uint16_t FeatureReportByteLength = 0;
};

// A platform handle as the backend hands it out. 0 is never a valid handle.
using RawHandle = std::uintptr_t;

enum class OpenMode { Plain, Overlapped };

enum class OpenError { None, AccessDenied, NotFound, Other };

// What the enumeration tells of an interface without opening it.
struct EnumeratedInterface {
    std::uint16_t VendorID = 0;
    std::uint16_t ProductID = 0;
    std::u16string Product; // empty where the enumeration does not name it
    // Names the physical device: the interfaces (top-level collections) of one device share it.
    std::string Unit;
    // Unit names where the device is plugged (its USB port chain or location), so it survives
    // the device's restarts into its other mode; false where it names only this enumeration.
    bool UnitIsPlace = false;
};

// Why a feature report could not be exchanged.
enum class ReportFailure { Refused, DeviceGone };

// A report that failed other than by a stall is told apart only by looking again: an interface
// that has left the bus within this time left it; one still there refused the report. (A hub
// notices an unplugged device within a few of its polls; the transfer fails first.)
inline constexpr int GoneCheckMs = 500;
inline constexpr int GoneCheckPollMs = 20;

// The system's own account of why a call failed.
struct SystemError {
    std::int64_t code = 0; // errno on Linux, GetLastError() on Windows; 0: the system gave none
    std::string text;      // the system's words for it (strerror, FormatMessage); empty: none
};

struct OpenResult {
    RawHandle handle = 0; // 0 when the open failed
    OpenError error = OpenError::None;
};

// The three identification strings of an interface, delivered as raw UTF-16LE.
enum class StringKind { Manufacturer, Product, SerialNumber };

class HidPlatform {
public:
    HidPlatform() = default;
    HidPlatform(const HidPlatform&) = delete;
    HidPlatform& operator=(const HidPlatform&) = delete;
    virtual ~HidPlatform() = default;

    // Paths of the HID interfaces present now, in the platform's enumeration order.
    virtual std::vector<std::string> enumerateInterfaces() = 0;
    // What the last enumeration listed for `path`, learnt without opening it, or nothing where
    // the platform cannot tell. Discovery uses it to count the Tarvex units present and to
    // recognise a Tarvex it was denied access to, never to choose one.
    virtual std::optional<EnumeratedInterface> enumerated(const std::string& /*path*/) {
        return std::nullopt;
    }

    // Interfaces arriving and leaving. A descriptor that turns readable when something changed,
    // for the window's event loop; -1 where the platform has none, and the window asks
    // interfacesChanged() from time to time instead.
    virtual int changeDescriptor() { return -1; }
    // True when interfaces arrived or left since the last call; takes the news.
    virtual bool interfacesChanged() { return false; }

    virtual OpenResult open(const std::string& path, OpenMode mode) = 0;
    virtual bool close(RawHandle handle) = 0;

    virtual bool getAttributes(RawHandle handle, HidAttributes& attributes) = 0;
    // Obtains the interface's parsed report information, reads the capabilities from it and
    // releases it again before returning; false when it could not be obtained.
    virtual bool getCapabilities(RawHandle handle, HidCapabilities& capabilities) = 0;

    // Feature reports: `length` bytes from/into `buffer`, byte 0 being the report ID.
    virtual bool setFeature(RawHandle handle, const std::uint8_t* buffer, std::size_t length) = 0;
    virtual bool getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) = 0;
    // Why the last setFeature or getFeature that returned false failed: the interface left the
    // bus, or the device (or the driver) refused the report. Known when the call returns: a
    // failure other than a stall is classified only after looking again (GoneCheckMs).
    virtual ReportFailure lastReportFailure() const = 0;
    // The system's error of the last call that failed, kept until the next call fails (a later
    // success leaves it). A failure the system gave no reason for (a handle never issued, a
    // length out of range) leaves it empty.
    virtual SystemError lastError() const { return {}; }
    // The longest feature report, report ID included, the platform's HID stack can carry.
    virtual std::size_t maxReportLength() const = 0;

    // Writes the string as zero-terminated UTF-16LE into at most `length` bytes of `buffer`.
    virtual bool getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                           std::size_t length) = 0;

    // Every pause of the program goes through here, so tests run on a virtual clock.
    virtual void sleep(int milliseconds) = 0;
    // Monotonic milliseconds on the same clock as sleep().
    virtual std::int64_t nowMs() = 0;
};

} // namespace quorvane
