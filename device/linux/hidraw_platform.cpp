#include "hidraw_platform.h"

#include "report_descriptor.h"
#include "text_encoding.h"

#include <libudev.h>
#include <linux/hidraw.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <thread>

namespace quorvane {

namespace {

struct DeviceUnref {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};
using Device = std::unique_ptr<udev_device, DeviceUnref>;
struct EnumerateUnref {
    void operator()(udev_enumerate* list) const { udev_enumerate_unref(list); }
};

std::string text(const char* value) {
    return value != nullptr ? value : "";
}

OpenError openErrorFrom(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return OpenError::AccessDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenError::NotFound;
    default:
        return OpenError::Other;
    }
}

} // namespace

std::optional<HidrawNode> describeHidrawNode(udev* context, const char* syspath) {
    const Device hidraw(udev_device_new_from_syspath(context, syspath));
    if (!hidraw)
        return std::nullopt;
    // Parents are owned by their child.
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw.get(), "hid", nullptr);
    const char* devnode = udev_device_get_devnode(hidraw.get());
    // HID_ID is bus:vendor:product in hexadecimal, such as 0003:00001D50:00002211.
    unsigned ids[3] = {};
    const std::string id =
        hid != nullptr ? text(udev_device_get_property_value(hid, "HID_ID")) : "";
    const char* at = id.data();
    for (unsigned& n : ids) {
        const auto [end, error] = std::from_chars(at, id.data() + id.size(), n, 16);
        at = error == std::errc() && (*end == ':' || &n == &ids[2]) ? end + 1 : nullptr;
        if (at == nullptr)
            break;
    }
    if (hid == nullptr || devnode == nullptr || at == nullptr)
        return std::nullopt;
    const unsigned vendor = ids[1], product = ids[2];
    HidrawNode node;
    node.listed.VendorID = static_cast<std::uint16_t>(vendor);
    node.listed.ProductID = static_cast<std::uint16_t>(product);
    node.product = text(udev_device_get_property_value(hid, "HID_NAME"));
    node.serialNumber = text(udev_device_get_property_value(hid, "HID_UNIQ"));
    const std::string phys = text(udev_device_get_property_value(hid, "HID_PHYS"));
    node.listed.Unit = phys.empty() ? text(udev_device_get_syspath(hid)) : "phys:" + phys;
    node.listed.UnitIsPlace = !phys.empty();
    // A USB device names itself; its interfaces share it as their unit.
    if (udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device")) {
        node.manufacturer = text(udev_device_get_sysattr_value(usb, "manufacturer"));
        node.product = text(udev_device_get_sysattr_value(usb, "product"));
        node.serialNumber = text(udev_device_get_sysattr_value(usb, "serial"));
        node.releaseNumber = static_cast<std::uint16_t>(std::strtoul(
            text(udev_device_get_sysattr_value(usb, "bcdDevice")).c_str(), nullptr, 16));
        // Its sysfs path is its port chain: the same after a restart into its other mode.
        node.listed.Unit = text(udev_device_get_syspath(usb));
        node.listed.UnitIsPlace = true;
    }
    node.listed.Product = utf16Text(node.product);
    return node;
}

HidrawPlatform::HidrawPlatform() : udev_(udev_new()) {}

HidrawPlatform::~HidrawPlatform() {
    for (const auto& [handle, open] : handles_)
        ::close(open.fd); // what the program left open goes with the backend
    udev_unref(udev_);
}

namespace {

// udev's events on hidraw nodes, through a monitor of this watch's own.
class UdevWatch final : public InterfaceWatch {
public:
    explicit UdevWatch(udev* context) : udev_(udev_ref(context)) {
        if (udev_ == nullptr)
            return;
        // Where udev runs, its events come once its rules (access among them) have been
        // applied; without it (a container, a bare VM) the kernel's own events are all there is.
        const bool udevRuns = ::access("/run/udev/control", F_OK) == 0;
        monitor_ = udev_monitor_new_from_netlink(udev_, udevRuns ? "udev" : "kernel");
        if (monitor_ != nullptr &&
            (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
             udev_monitor_enable_receiving(monitor_) < 0))
            monitor_ = udev_monitor_unref(monitor_);
    }
    ~UdevWatch() override {
        udev_monitor_unref(monitor_);
        udev_unref(udev_);
    }
    UdevWatch(const UdevWatch&) = delete;
    UdevWatch& operator=(const UdevWatch&) = delete;

    int descriptor() const override {
        return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
    }
    bool changed() override {
        bool changed = false;
        // The monitor's descriptor does not block: this takes every event waiting, and no more.
        while (monitor_ != nullptr) {
            udev_device* event = udev_monitor_receive_device(monitor_);
            if (event == nullptr)
                break;
            udev_device_unref(event);
            changed = true;
        }
        return changed;
    }

private:
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

} // namespace

std::unique_ptr<InterfaceWatch> HidrawPlatform::watchInterfaces() {
    const std::lock_guard lock(mutex_);
    return std::make_unique<UdevWatch>(udev_);
}

const HidrawPlatform::OpenNode* HidrawPlatform::find(RawHandle handle) const {
    // A handle's node is written once, at its open; the map is shared between threads.
    const std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &it->second;
}

std::vector<EnumeratedInterface> HidrawPlatform::enumerateInterfaces() {
    const std::lock_guard lock(mutex_);
    std::vector<EnumeratedInterface> listed;
    const std::unique_ptr<udev_enumerate, EnumerateUnref> list(
        udev_ != nullptr ? udev_enumerate_new(udev_) : nullptr);
    if (!list || udev_enumerate_add_match_subsystem(list.get(), "hidraw") < 0 ||
        udev_enumerate_scan_devices(list.get()) < 0)
        return listed;
    // udev lists devices by their sysfs path: by bus, vendor and product for HID devices.
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        const Device hidraw(udev_device_new_from_syspath(udev_, syspath));
        const char* devnode = hidraw ? udev_device_get_devnode(hidraw.get()) : nullptr;
        if (auto node = describeHidrawNode(udev_, syspath); node && devnode != nullptr) {
            node->listed.Path = devnode;
            listed.push_back(std::move(node->listed));
        }
    }
    return listed;
}

// The kernel's HID_MAX_BUFFER_SIZE (include/linux/hid.h): hidraw refuses longer feature
// reports with EINVAL.
std::size_t HidrawPlatform::maxReportLength() const {
    return 16384;
}

namespace {

SystemError systemError(int error) {
    return error == 0 ? SystemError{} : SystemError{error, std::system_category().message(error)};
}

CallResult failed(int error) {
    return {false, systemError(error)};
}

const CallResult Succeeded{true, {}};

} // namespace

CallResult HidrawPlatform::reportFailed(const OpenNode* open, int error) {
    CallResult result = failed(error);
    if (open == nullptr || error == 0 || error == EPIPE)
        return result;
    // hidraw answers ENODEV on a node whose device has gone; the host controller's own error
    // for an unplug (EPROTO, EILSEQ, ETIME, ESHUTDOWN...) comes a moment before that.
    for (int waited = 0;; waited += GoneCheckPollMs) {
        hidraw_devinfo info{};
        if (::ioctl(open->fd, HIDIOCGRAWINFO, &info) < 0 && errno == ENODEV) {
            result.failure = ReportFailure::DeviceGone;
            return result;
        }
        if (waited >= GoneCheckMs)
            return result;
        sleep(GoneCheckPollMs);
    }
}

OpenResult HidrawPlatform::open(const std::string& path, OpenMode /*mode*/) {
    // hidraw has one kind of open; an overlapped open is simply a second, independent one.
    OpenResult result;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd == -1) {
        const int error = errno;
        result.error = openErrorFrom(error);
        result.cause = systemError(error);
        return result;
    }
    // Only a hidraw node whose device udev still knows: one that left between the listing and
    // the open is a failed open.
    struct stat st {};
    const std::lock_guard lock(mutex_);
    const Device device(::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && udev_ != nullptr
                            ? udev_device_new_from_devnum(udev_, 'c', st.st_rdev)
                            : nullptr);
    const std::optional<HidrawNode> node =
        device && text(udev_device_get_subsystem(device.get())) == "hidraw"
            ? describeHidrawNode(udev_, udev_device_get_syspath(device.get()))
            : std::nullopt;
    if (!node) {
        ::close(fd);
        result.error = OpenError::NotFound;
        result.cause = systemError(ENODEV);
        return result;
    }
    result.handle = nextHandle_++;
    handles_.emplace(result.handle, OpenNode{fd, *node});
    return result;
}

CallResult HidrawPlatform::close(RawHandle handle) {
    const std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle);
    if (it == handles_.end())
        return failed(0);
    const int closed = ::close(it->second.fd);
    const int error = errno;
    handles_.erase(it); // closed even when close() reports an error: never closed twice
    return closed == 0 ? Succeeded : failed(error);
}

CallResult HidrawPlatform::getAttributes(RawHandle handle, HidAttributes& attributes) {
    const OpenNode* open = find(handle);
    hidraw_devinfo info{};
    if (open == nullptr)
        return failed(0);
    if (::ioctl(open->fd, HIDIOCGRAWINFO, &info) < 0)
        return failed(errno);
    attributes = {static_cast<std::uint16_t>(info.vendor), static_cast<std::uint16_t>(info.product),
                  open->node.releaseNumber};
    return Succeeded;
}

CallResult HidrawPlatform::getCapabilities(RawHandle handle, HidCapabilities& capabilities) {
    const OpenNode* open = find(handle);
    int size = 0;
    if (open == nullptr)
        return failed(0);
    if (::ioctl(open->fd, HIDIOCGRDESCSIZE, &size) < 0)
        return failed(errno);
    if (size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE)
        return failed(0);
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<__u32>(size);
    if (::ioctl(open->fd, HIDIOCGRDESC, &descriptor) < 0)
        return failed(errno);
    const FeatureLengthResult parsed = parseFeatureReportByteLength(
        std::vector<std::uint8_t>(descriptor.value, descriptor.value + descriptor.size));
    if (!parsed)
        return failed(0);
    capabilities.FeatureReportByteLength = *parsed.featureReportByteLength;
    return Succeeded;
}

CallResult HidrawPlatform::setFeature(RawHandle handle, const std::uint8_t* buffer,
                                      std::size_t length) {
    const OpenNode* open = find(handle);
    if (open == nullptr || buffer == nullptr || length == 0 || length > maxReportLength())
        return reportFailed(nullptr, 0);
    // The ioctl takes a writable buffer; the caller's report stays untouched.
    std::vector<std::uint8_t> report(buffer, buffer + length);
    const int written = ::ioctl(open->fd, HIDIOCSFEATURE(length), report.data());
    if (written < 0)
        return reportFailed(open, errno);
    // A report taken in part is a refusal the system gave no reason for.
    return static_cast<std::size_t>(written) == length ? Succeeded : reportFailed(nullptr, 0);
}

CallResult HidrawPlatform::getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) {
    const OpenNode* open = find(handle);
    if (open == nullptr || buffer == nullptr || length == 0 || length > maxReportLength())
        return reportFailed(nullptr, 0);
    const int received = ::ioctl(open->fd, HIDIOCGFEATURE(length), buffer);
    if (received < 0)
        return reportFailed(open, errno);
    if (received == 0)
        return reportFailed(nullptr, 0);
    // A report shorter than the buffer leaves no stale bytes behind it.
    std::fill(buffer + std::min(static_cast<std::size_t>(received), length), buffer + length, 0);
    return Succeeded;
}

CallResult HidrawPlatform::getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                                     std::size_t length) {
    const OpenNode* open = find(handle);
    hidraw_devinfo info{};
    // The strings were read when the node was opened; the device must still be there to answer.
    if (open == nullptr || (buffer == nullptr && length != 0))
        return failed(0);
    if (::ioctl(open->fd, HIDIOCGRAWINFO, &info) < 0)
        return failed(errno);
    const HidrawNode& node = open->node;
    writeUtf16le(utf16Text(kind == StringKind::Manufacturer ? node.manufacturer
                           : kind == StringKind::Product    ? node.product
                                                            : node.serialNumber),
                 std::span(buffer, length));
    return Succeeded;
}

void HidrawPlatform::sleep(int milliseconds) {
    if (milliseconds > 0)
        clock_.sleep(milliseconds);
}

std::int64_t HidrawPlatform::nowMs() {
    return clock_.nowMs();
}

} // namespace quorvane
