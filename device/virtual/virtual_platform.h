// The in-process transport of the virtual Tarvex: a platform backend whose HID interfaces are
// the virtual device and any foreign interfaces around it. It logs every call with its exact
// bytes, so tests can assert on what reached the device, and catches handle misuse.
#pragma once

#include "ApiDeclarations.h"
#include "clock.h"
#include "virtual_tarvex.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// Another HID interface on the system: any vendor, any product ID, possibly unopenable.
struct ForeignInterface {
    std::string path;
    HidAttributes attributes;
    bool openable = true;
    OpenError openError = OpenError::AccessDenied;
    std::uint16_t featureReportByteLength = 9;
    std::u16string manufacturer = u"Other Maker";
    std::u16string product = u"Other Device";
    std::u16string serialNumber = u"0";
    // The device it belongs to; empty: a device of its own. A sibling collection of the
    // Tarvex names TarvexUnit.
    std::string unit;
    // The enumeration tells where it is plugged (as USB does); false, as a platform that
    // cannot tell the place.
    bool unitIsPlace = true;
};

// The unit every interface of the virtual Tarvex belongs to, across its re-enumerations.
inline constexpr const char* TarvexUnit = "virtual:tarvex";

enum class CallKind {
    Enumerate,
    Open,
    Close,
    GetAttributes,
    GetCapabilities,
    SetFeature,
    GetFeature,
    GetString,
    Sleep
};

struct CallRecord {
    CallKind kind = CallKind::Enumerate;
    std::int64_t time = 0;
    std::string path;     // Open: the path opened; otherwise the handle's path
    RawHandle handle = 0; // the handle used, or the one an open returned
    OpenMode mode = OpenMode::Plain;
    bool result = false;
    std::vector<std::uint8_t> bytes; // SetFeature: sent; GetFeature: received (or the request)
    std::size_t length = 0;
    bool tarvex = false;  // the handle is the virtual Tarvex's
    bool reached = false; // a live handle carried the call to an interface on the bus
    TarvexMode tarvexMode = TarvexMode::Application; // its mode at the time
    std::uint16_t tarvexReportLength = 0;            // its FeatureReportByteLength at the time
    int sleepMs = 0;
    StringKind stringKind = StringKind::Manufacturer;
};

class VirtualPlatform final : public HidPlatform {
public:
    VirtualPlatform(Clock& clock, TarvexConfig config);

    VirtualTarvex& tarvex() { return tarvex_; }
    const VirtualTarvex& tarvex() const { return tarvex_; }
    Clock& clock() { return clock_; }

    // Interfaces enumerate in this order: foreignBefore, the Tarvex, foreignAfter.
    std::vector<ForeignInterface> foreignBefore;
    std::vector<ForeignInterface> foreignAfter;
    bool tarvexAttached = true;
    // The enumeration tells where the Tarvex is plugged; false plays a platform that cannot,
    // where only its serial number tells it apart.
    bool tarvexUnitIsPlace = true;
    // Failing enumeration (no device information set).
    bool failEnumeration = false;
    // The longest feature report the simulated HID stack carries (Linux's by default).
    std::size_t reportLimit = 16384;
    // Called after every sleep with the clock's new time; tests use it to act mid-command.
    std::function<void(std::int64_t)> onSleep;

    // The benchmark turns the log off so that only the program's own memory is measured.
    bool keepLog = true;
    const std::vector<CallRecord>& log() const { return log_; }
    void clearLog() { log_.clear(); }
    int openHandles() const;
    // Closes of handles already closed or never issued, and uses of such handles.
    const std::vector<std::string>& misuse() const { return misuse_; }

    // HidPlatform. Calls from several threads take turns (the onSleep callback may call in).
    std::vector<EnumeratedInterface> enumerateInterfaces() override;
    std::unique_ptr<InterfaceWatch> watchInterfaces() override;
    OpenResult open(const std::string& path, OpenMode mode) override;
    CallResult close(RawHandle handle) override;
    CallResult getAttributes(RawHandle handle, HidAttributes& attributes) override;
    CallResult getCapabilities(RawHandle handle, HidCapabilities& capabilities) override;
    CallResult setFeature(RawHandle handle, const std::uint8_t* buffer,
                          std::size_t length) override;
    CallResult getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) override;
    std::size_t maxReportLength() const override { return reportLimit; }
    CallResult getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                         std::size_t length) override;
    void sleep(int milliseconds) override;
    std::int64_t nowMs() override { return clock_.nowMs(); }

private:
    struct HandleInfo {
        std::string path;
        bool open = true;
        bool tarvex = false;
        std::uint64_t generation = 0;
        const ForeignInterface* foreign = nullptr;
    };
    std::string tarvexPath() const;
    // What an enumeration lists now, in its order.
    std::vector<EnumeratedInterface> listedNow();
    const ForeignInterface* findForeign(const std::string& path) const;
    // The handle's record when it is open and still names a present interface; else nullptr,
    // with why in `failure`.
    HandleInfo* live(RawHandle handle, const char* operation, CallResult& failure);
    // A report failed with the system's words, classified as hidraw's backend does: looking
    // again on the clock unless the device stalled it.
    CallResult reportFailed(const HandleInfo* info, const SystemError& error);
    CallRecord& record(CallKind kind, RawHandle handle);

    Clock& clock_;
    VirtualTarvex tarvex_;
    std::map<RawHandle, HandleInfo> handles_;
    RawHandle nextHandle_ = 0x100;
    std::vector<CallRecord> log_;
    std::vector<std::string> misuse_;
    CallRecord scratch_;
    mutable std::recursive_mutex mutex_;
};

} // namespace quorvane
