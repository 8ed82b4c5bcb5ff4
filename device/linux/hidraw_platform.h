// The platform backend for Linux: libudev lists the hidraw nodes and what their parents tell of
// them (IDs, strings, release number) without opening them; the hidraw ioctls carry the rest.
// Feature report lengths come from each interface's report descriptor.
#pragma once

#include "ApiDeclarations.h"
#include "clock.h"

#include <map>
#include <mutex>
#include <optional>
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

    std::vector<EnumeratedInterface> enumerateInterfaces() override;
    std::unique_ptr<InterfaceWatch> watchInterfaces() override;
    OpenResult open(const std::string& path, OpenMode mode) override;
    CallResult close(RawHandle handle) override;
    CallResult getAttributes(RawHandle handle, HidAttributes& attributes) override;
    CallResult getCapabilities(RawHandle handle, HidCapabilities& capabilities) override;
    CallResult setFeature(RawHandle handle, const std::uint8_t* buffer,
                          std::size_t length) override;
    CallResult getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) override;
    std::size_t maxReportLength() const override;
    CallResult getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
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
    const OpenNode* find(RawHandle handle) const;
    // A feature report on `open` failed with `error` (an errno value; 0: no reason given),
    // classified: a stall (EPIPE) is the device refusing; anything else is looked at again:
    // gone from the bus a moment later, the device left.
    CallResult reportFailed(const OpenNode* open, int error);

    // udev's context is not to be used from two threads at once, nor is the handle table.
    mutable std::mutex mutex_;
    udev* udev_ = nullptr;
    std::map<RawHandle, OpenNode> handles_; // a node, once in, is not changed until closed
    RawHandle nextHandle_ = 1;
};

// What udev tells of the hidraw device at `syspath`, or nothing when it is no hidraw node with
// a HID parent.
std::optional<HidrawNode> describeHidrawNode(udev* context, const char* syspath);

} // namespace quorvane
