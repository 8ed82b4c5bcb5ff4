#include "uhid_device.h"

#include <linux/uhid.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quorvane {

namespace {

constexpr std::uint16_t BusUsb = 0x03; // BUS_USB of linux/input.h

// Copies `text` into a fixed, zero-terminated field of the kernel's record, cutting it to fit.
template <std::size_t N> void copyField(__u8 (&field)[N], const std::string& text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

UhidReportType reportTypeFrom(__u8 type) {
    switch (type) {
    case UHID_FEATURE_REPORT:
        return UhidReportType::Feature;
    case UHID_OUTPUT_REPORT:
        return UhidReportType::Output;
    default:
        return UhidReportType::Input;
    }
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

std::vector<std::uint8_t> vendorFeatureReportDescriptor(std::uint16_t featureReportByteLength) {
    if (featureReportByteLength < 2 || featureReportByteLength > UhidMaxReportBytes)
        return {};
    const unsigned dataBytes = featureReportByteLength - 1U;
    const auto low = static_cast<std::uint8_t>(dataBytes & 0xFF);
    const auto high = static_cast<std::uint8_t>(dataBytes >> 8);
    // clang-format off
    return {
        0x06, 0x00, 0xFF, // Usage Page (vendor-defined 0xFF00)
        0x09, 0x01,       // Usage (1)
        0xA1, 0x01,       // Collection (Application)
        0x09, 0x02,       //   Usage (2)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8 bits)
        0x96, low, high,  //   Report Count (the data bytes)
        0xB1, 0x02,       //   Feature (Data, Variable, Absolute)
        0xC0,             // End Collection
    };
    // clang-format on
}

std::unique_ptr<UhidDevice> UhidDevice::open(std::string& error) {
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("cannot open /dev/uhid: ") + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<UhidDevice>(new UhidDevice(fd));
}

UhidDevice::~UhidDevice() {
    destroy();
    ::close(fd_);
}

bool UhidDevice::write(const void* event, std::size_t size) {
    for (;;) {
        const ssize_t n = ::write(fd_, event, size);
        if (n >= 0)
            return static_cast<std::size_t>(n) == size;
        if (errno != EINTR)
            return false;
    }
}

bool UhidDevice::create(const UhidIdentity& identity) {
    if (exists_ || identity.reportDescriptor.empty() ||
        identity.reportDescriptor.size() > UhidMaxDescriptorBytes)
        return false;
    auto event = std::make_unique<uhid_event>();
    std::memset(event.get(), 0, sizeof(uhid_event));
    event->type = UHID_CREATE2;
    uhid_create2_req& req = event->u.create2;
    copyField(req.name, identity.name);
    copyField(req.phys, identity.phys);
    copyField(req.uniq, identity.uniq);
    req.rd_size = static_cast<__u16>(identity.reportDescriptor.size());
    std::memcpy(req.rd_data, identity.reportDescriptor.data(), identity.reportDescriptor.size());
    req.bus = BusUsb;
    req.vendor = identity.vendorId;
    req.product = identity.productId;
    req.version = identity.version;
    req.country = 0;
    exists_ = write(event.get(), sizeof(uhid_event));
    return exists_;
}

bool UhidDevice::destroy() {
    if (!exists_)
        return false;
    uhid_event event{};
    event.type = UHID_DESTROY;
    const bool ok = write(&event, sizeof(event));
    exists_ = false;
    dropQueued();
    return ok;
}

void UhidDevice::dropQueued() {
    auto event = std::make_unique<uhid_event>();
    for (;;) {
        const ssize_t n = ::read(fd_, event.get(), sizeof(uhid_event));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // EAGAIN: the queue is empty
    }
}

bool UhidDevice::serveOne(int timeoutMs, UhidResponder& responder) {
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready <= 0 || (pfd.revents & POLLIN) == 0)
        return false;
    auto event = std::make_unique<uhid_event>();
    std::memset(event.get(), 0, sizeof(uhid_event));
    if (::read(fd_, event.get(), sizeof(uhid_event)) <= 0)
        return false;
    switch (event->type) {
    case UHID_OPEN:
        responder.openedByHost(true);
        break;
    case UHID_CLOSE:
        responder.openedByHost(false);
        break;
    case UHID_GET_REPORT: {
        const uhid_get_report_req request = event->u.get_report;
        std::vector<std::uint8_t> reply;
        const bool ok = responder.getReport(reportTypeFrom(request.rtype), request.rnum, reply);
        std::memset(event.get(), 0, sizeof(uhid_event));
        event->type = UHID_GET_REPORT_REPLY;
        uhid_get_report_reply_req& answer = event->u.get_report_reply;
        answer.id = request.id;
        answer.err = ok ? 0 : EIO;
        if (ok) {
            answer.size = static_cast<__u16>(std::min(reply.size(), UhidMaxReportBytes));
            std::memcpy(answer.data, reply.data(), answer.size);
        }
        return write(event.get(), sizeof(uhid_event));
    }
    case UHID_SET_REPORT: {
        const uhid_set_report_req& request = event->u.set_report;
        const std::size_t size = std::min<std::size_t>(request.size, UhidMaxReportBytes);
        const bool ok = responder.setReport(reportTypeFrom(request.rtype), request.data, size);
        const __u32 id = request.id;
        uhid_event answer{};
        answer.type = UHID_SET_REPORT_REPLY;
        answer.u.set_report_reply.id = id;
        answer.u.set_report_reply.err = ok ? 0 : EIO;
        return write(&answer, sizeof(answer));
    }
    default: // start, stop, output reports: nothing to answer
        break;
    }
    return true;
}

std::optional<std::string> findHidrawNode(const std::string& phys) {
    const std::string wanted = "HID_PHYS=" + phys + "\n";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", ec)) {
        const std::string uevent = readFile(entry.path() / "device" / "uevent");
        if (uevent.find(wanted) != std::string::npos)
            return "/dev/" + entry.path().filename().string();
    }
    return std::nullopt;
}

std::string uniquePhysLabel() {
    static std::atomic<unsigned> next{0};
    return "quorvane-uhid/" + std::to_string(::getpid()) + "/" + std::to_string(next++);
}

UhidServer::~UhidServer() {
    stopServing();
}

void UhidServer::startServing() {
    thread_ = std::thread([this] { serve(); });
}

void UhidServer::stopServing() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
}

void UhidServer::serve() {
    while (!stopping_) {
        {
            const std::lock_guard lock(mutex_);
            sync(*device_);
        }
        device_->serveOne(PollIntervalMs, *this);
    }
}

std::unique_ptr<UhidForeignDevice> UhidForeignDevice::start(UhidIdentity identity,
                                                            std::string& error) {
    auto device = UhidDevice::open(error);
    if (!device)
        return nullptr;
    identity.phys = uniquePhysLabel();
    if (!device->create(identity)) {
        error = "the kernel refused the device " + identity.name;
        return nullptr;
    }
    std::unique_ptr<UhidForeignDevice> foreign(
        new UhidForeignDevice(std::move(device), std::move(identity)));
    foreign->startServing();
    return foreign;
}

UhidForeignDevice::UhidForeignDevice(std::unique_ptr<UhidDevice> device, UhidIdentity identity)
    : UhidServer(std::move(device)), identity_(std::move(identity)) {}

UhidForeignDevice::~UhidForeignDevice() {
    stopServing();
}

void UhidForeignDevice::sync(UhidDevice& /*device*/) {}

int UhidForeignDevice::opens() const {
    const std::lock_guard lock(mutex_);
    return opens_;
}

bool UhidForeignDevice::openByHost() const {
    const std::lock_guard lock(mutex_);
    return open_;
}

int UhidForeignDevice::reportsAsked() const {
    const std::lock_guard lock(mutex_);
    return reportsAsked_;
}

bool UhidForeignDevice::getReport(UhidReportType, std::uint8_t, std::vector<std::uint8_t>&) {
    const std::lock_guard lock(mutex_);
    ++reportsAsked_;
    return false;
}

bool UhidForeignDevice::setReport(UhidReportType, const std::uint8_t*, std::size_t) {
    const std::lock_guard lock(mutex_);
    ++reportsAsked_;
    return false;
}

void UhidForeignDevice::openedByHost(bool open) {
    const std::lock_guard lock(mutex_);
    open_ = open;
    if (open)
        ++opens_;
}

} // namespace quorvane
