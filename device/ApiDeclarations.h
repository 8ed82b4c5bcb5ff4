// The platform seam: every operation the program performs on HID interfaces, and the records
// they fill. Each backend (linux/, windows/, the virtual Tarvex in virtual/) implements this
// contract in a folder of its own; the build chooses which ones are compiled.
//
// Every call answers from its own arguments: nothing depends on what an earlier call listed or
// how it failed, and a call that fails returns why, in the system's words. Threads: every call
// may be made from several threads at once, as long as one handle is used by one thread at a
// time (sessions on different units share one platform); every backend keeps this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// One HID interface as the enumeration tells of it, without opening it.
struct EnumeratedInterface {
    std::string Path;
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

// What one call did: success, or why it failed. A failure the system gave no reason for (a
// handle never issued, a length out of range) has an empty error.
struct CallResult {
    bool ok = false;
    SystemError error;
    // Feature reports only: the interface left the bus, or the device (or the driver) refused
    // the report. A failure other than a stall is classified only after looking again
    // (GoneCheckMs), before the call returns.
    ReportFailure failure = ReportFailure::Refused;

    explicit operator bool() const { return ok; }
};

struct OpenResult {
    RawHandle handle = 0; // 0 when the open failed
    OpenError error = OpenError::None;
    SystemError cause; // why it failed, in the system's words
};

// The three identification strings of an interface, delivered as raw UTF-16LE.
enum class StringKind { Manufacturer, Product, SerialNumber };

// Interfaces arriving and leaving, as one watcher sees them.
class InterfaceWatch {
public:
    InterfaceWatch() = default;
    InterfaceWatch(const InterfaceWatch&) = delete;
    InterfaceWatch& operator=(const InterfaceWatch&) = delete;
    virtual ~InterfaceWatch() = default;

    // A descriptor that turns readable when something changed, for an event loop; -1 where the
    // platform has none, and changed() is asked from time to time instead.
    virtual int descriptor() const { return -1; }
    // True when interfaces arrived or left since this watch last said so; takes the news.
    virtual bool changed() = 0;
};

class HidPlatform {
public:
    HidPlatform() = default;
    HidPlatform(const HidPlatform&) = delete;
    HidPlatform& operator=(const HidPlatform&) = delete;
    virtual ~HidPlatform() = default;

    // The HID interfaces present now, in the platform's enumeration order, each with what the
    // enumeration tells of it (all that is known without opening it).
    virtual std::vector<EnumeratedInterface> enumerateInterfaces() = 0;
    // A watch on arrivals and departures from now on; one that never tells of any where the
    // platform cannot (the window's own system notifications then take over).
    virtual std::unique_ptr<InterfaceWatch> watchInterfaces();

    virtual OpenResult open(const std::string& path, OpenMode mode) = 0;
    virtual CallResult close(RawHandle handle) = 0;

    virtual CallResult getAttributes(RawHandle handle, HidAttributes& attributes) = 0;
    // Obtains the interface's parsed report information, reads the capabilities from it and
    // releases it again before returning.
    virtual CallResult getCapabilities(RawHandle handle, HidCapabilities& capabilities) = 0;

    // Feature reports: `length` bytes from/into `buffer`, byte 0 being the report ID.
    virtual CallResult setFeature(RawHandle handle, const std::uint8_t* buffer,
                                  std::size_t length) = 0;
    virtual CallResult getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) = 0;
    // The longest feature report, report ID included, the platform's HID stack can carry.
    virtual std::size_t maxReportLength() const = 0;

    // Writes the string as zero-terminated UTF-16LE into at most `length` bytes of `buffer`.
    virtual CallResult getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                                 std::size_t length) = 0;

    // Every pause of the program goes through here, so tests run on a virtual clock.
    virtual void sleep(int milliseconds) = 0;
    // Monotonic milliseconds on the same clock as sleep().
    virtual std::int64_t nowMs() = 0;
};

// A watch that never tells of a change.
class SilentWatch final : public InterfaceWatch {
public:
    bool changed() override { return false; }
};

inline std::unique_ptr<InterfaceWatch> HidPlatform::watchInterfaces() {
    return std::make_unique<SilentWatch>();
}

} // namespace quorvane
