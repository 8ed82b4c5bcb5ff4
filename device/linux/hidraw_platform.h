// The platform backend for Linux: libudev lists the hidraw nodes and what their parents tell of
// them (IDs, strings, release number) without opening them; the hidraw ioctls carry the rest.
// Feature report lengths come from each interface's report descriptor.
#pragma once

#include "ApiDeclarations.h"
#include "clock.h"

#include <map>
#include <string>
#include <vector>

struct udev;
struct udev_monitor;

namespace quorvane {

// What udev tells of a hidraw node.
struct HidrawNode {
    EnumeratedInterface listed;
    std::uint16_t releaseNumber = 0;                 // bcdDevice of the USB parent; 0 without one
    std::string manufacturer, product, serialNumber; // UTF-8, as the kernel gives them
};

class HidrawPlatform final : public HidPlatform {
public:
    HidrawPlatform();
    ~HidrawPlatform() override;
    HidrawPlatform(const HidrawPlatform&) = delete;
    HidrawPlatform& operator=(const HidrawPlatform&) = delete;

    std::vector<std::string> enumerateInterfaces() override;
    std::optional<EnumeratedInterface> enumerated(const std::string& path) override;
    int changeDescriptor() override;
    bool interfacesChanged() override;
    OpenResult open(const std::string& path, OpenMode mode) override;
    bool close(RawHandle handle) override;
    bool getAttributes(RawHandle handle, HidAttributes& attributes) override;
    bool getCapabilities(RawHandle handle, HidCapabilities& capabilities) override;
    bool setFeature(RawHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    bool getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) override;
    ReportFailure lastReportFailure() const override { return lastFailure_; }
    SystemError lastError() const override { return lastError_; }
    std::size_t maxReportLength() const override;
    bool getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                   std::size_t length) override;
    void sleep(int milliseconds) override;
    std::int64_t nowMs() override;

private:
    SteadyClock clock_; // the program's one clock: pauses and times on the same steady clock
    struct OpenNode {
        int fd = -1;
        HidrawNode node; // read from udev when it was opened
    };
    // The open node behind a handle, or nullptr for one never issued or already closed.
    OpenNode* find(RawHandle handle);
    // Keeps `error` (an errno value; 0: no reason given) as the last failure's; returns false.
    bool failed(int error);
    // A feature report on `open` failed with `error`: kept, and classified. A stall (EPIPE) is
    // the device refusing; anything else is looked at again: gone from the bus a moment later,
    // the device left. Returns false.
    bool reportFailed(const OpenNode* open, int error);

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr; // made when first asked for
    std::map<RawHandle, OpenNode> handles_;
    std::map<std::string, HidrawNode> enumerated_; // by path, as the last enumeration listed them
    RawHandle nextHandle_ = 1;
    ReportFailure lastFailure_ = ReportFailure::Refused;
    SystemError lastError_;
};

// What udev tells of the hidraw device at `syspath`, or nothing when it is no hidraw node with
// a HID parent.
std::optional<HidrawNode> describeHidrawNode(udev* context, const char* syspath);

} // namespace quorvane
