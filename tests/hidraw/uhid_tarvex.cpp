#include "uhid_tarvex.h"

#include "device_info.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

namespace quorvane {

static bool send(int fd, const uhid_event& event) {
    return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

UhidTarvex::UhidTarvex(TarvexConfig config, std::string& error)
    : fd_(::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK)),
      phys_("quorvane/" + std::to_string(::getpid()) + "/" + std::to_string(std::uintptr_t(this))),
      state_{VirtualTarvex(std::move(config))} {
    if (fd_ < 0 || !sync())
        error = std::string("no uhid device: ") + std::strerror(errno);
    else
        thread_ = std::thread([this] {
            auto request = std::make_unique<uhid_event>();
            for (pollfd ready{fd_, POLLIN, 0}; !stop_;) {
                const bool got =
                    ::poll(&ready, 1, 5) == 1 && ::read(fd_, request.get(), sizeof(uhid_event)) > 0;
                const std::lock_guard serving(mutex_);
                sync();
                if (!got)
                    continue;
                VirtualTarvex& model = state_.model; // brought up to date by sync()
                auto reply = std::make_unique<uhid_event>();
                if (request->type == UHID_GET_REPORT) {
                    // The host's length does not reach us: the whole report goes, its ID first.
                    const std::uint16_t length = model.personality().featureReportByteLength;
                    uhid_get_report_reply_req& out = reply->u.get_report_reply;
                    const bool ok = model.getFeature(&request->u.get_report.rnum, out.data, length);
                    reply->type = UHID_GET_REPORT_REPLY;
                    out.id = request->u.get_report.id;
                    out.err = ok ? 0 : EIO;
                    out.size = ok ? length : 0;
                } else if (request->type == UHID_SET_REPORT) {
                    const uhid_set_report_req& set = request->u.set_report;
                    const bool ok = model.setFeature(clock_.nowMs(), set.data, set.size);
                    reply->type = UHID_SET_REPORT_REPLY;
                    reply->u.set_report_reply = {set.id, __u16(ok ? 0 : EIO)};
                } else {
                    state_.open =
                        request->type == UHID_OPEN || (state_.open && request->type != UHID_CLOSE);
                    state_.opens += request->type == UHID_OPEN;
                    continue;
                }
                send(fd_, *reply);
            }
        });
}

UhidTarvex::~UhidTarvex() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    ::close(fd_);
}

bool UhidTarvex::sync() {
    VirtualTarvex& model = state_.model;
    model.advance(clock_.nowMs());
    const std::uint64_t wanted = model.present() ? model.generation() : 0;
    if (generation_ == wanted)
        return true;
    auto event = std::make_unique<uhid_event>();
    if (std::exchange(generation_, 0) != 0) {
        event->type = UHID_DESTROY;
        send(fd_, *event);
        state_.open = false;
        // What the kernel queued for the old device must not reach the new one.
        while (::read(fd_, event.get(), sizeof(uhid_event)) > 0) {
        }
    }
    if (wanted == 0)
        return true;
    const TarvexPersonality& p = model.personality();
    const auto size = static_cast<std::uint16_t>(p.featureReportByteLength - 1);
    // A vendor-defined collection with one feature report of `size` bytes and no report ID.
    std::uint8_t descriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0x15, 0x00,
                                 0x26, 0xFF, 0x00, 0x75, 0x08, 0x96, 0,    0,    0xB1, 0x02, 0xC0};
    std::memcpy(&descriptor[17], &size, 2); // little-endian, as HID items are
    *event = {};
    event->type = UHID_CREATE2;
    uhid_create2_req& create = event->u.create2;
    std::strncpy(reinterpret_cast<char*>(create.name), utf8Text(p.product).c_str(), 127);
    std::strncpy(reinterpret_cast<char*>(create.phys), phys_.c_str(), 63);
    std::strncpy(reinterpret_cast<char*>(create.uniq), utf8Text(p.serialNumber).c_str(), 63);
    std::memcpy(create.rd_data, descriptor, create.rd_size = sizeof descriptor);
    create.bus = 0x03; // USB
    create.vendor = p.vendorId;
    create.product = p.productId;
    create.version = p.version;
    if (!send(fd_, *event))
        return false;
    generation_ = wanted;
    return true;
}

std::string UhidTarvex::hidrawPath() const {
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw")) {
        std::ifstream uevent(entry.path() / "device" / "uevent");
        for (std::string line; std::getline(uevent, line);)
            if (line == "HID_PHYS=" + phys_)
                return "/dev/" + entry.path().filename().string();
    }
    return "";
}

} // namespace quorvane
