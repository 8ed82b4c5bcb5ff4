// The Tarvex as a USB device, the virtual Tarvex's model behind a gadget
// made with configfs and FunctionFS on dummy_hcd, so that the kernel's USB core and usbhid
// enumerate it, carry its feature reports as control transfers and see each of its restarts as
// a disconnect and a new enumeration under the other product ID. Every report the host sets is
// logged with its bytes and what the device did with it. Runs as root until SIGTERM or SIGINT.
#include "clock.h"
#include "tarvex_report_descriptor.h"
#include "text_encoding.h"
#include "virtual_tarvex.h"

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
const fs::path ConfigFs = "/sys/kernel/config";
const fs::path Gadget = ConfigFs / "usb_gadget/tarvex";
const fs::path FfsMount = "/run/usb-tarvex";
const char* const Controller = "dummy_udc.0";

// HID class requests (HID 1.11, 7.2) and the feature report's type in wValue's high byte.
constexpr std::uint8_t GetReport = 0x01, SetReport = 0x09;
constexpr std::uint16_t FeatureReport = 0x0300, ReportDescriptor = 0x2200;

volatile std::sig_atomic_t stopping = 0;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "usb_tarvex: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void put(const fs::path& file, const std::string& text) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    const bool written =
        fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0)
        ::close(fd);
    if (!written)
        die("cannot write \"" + text + "\" to " + file.string());
}

std::string hex(const std::uint8_t* bytes, std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += {"0123456789abcdef"[bytes[i] >> 4], "0123456789abcdef"[bytes[i] & 15]};
    return text;
}

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

#pragma pack(push, 1)
struct HidDescriptor {
    std::uint8_t bLength = 9, bDescriptorType = 0x21;
    std::uint16_t bcdHID = 0x0111;
    std::uint8_t bCountryCode = 0, bNumDescriptors = 1, bReportType = 0x22;
    std::uint16_t wReportLength = static_cast<std::uint16_t>(tarvexReportDescriptor(65).size());
};
// One HID interface: the feature reports go over the control endpoint; usbhid wants an interrupt
// IN endpoint as well, which never carries anything.
struct HidInterface {
    usb_interface_descriptor interface;
    HidDescriptor hid;
    usb_endpoint_descriptor_no_audio endpoint;
};
HidInterface hidInterface(std::uint8_t interval) {
    return {{USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 1, USB_CLASS_HID, 0, 0, 0},
            HidDescriptor{},
            {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, USB_DIR_IN | 1, USB_ENDPOINT_XFER_INT, 64,
             interval}};
}
struct Descriptors {
    usb_functionfs_descs_head_v2 head{FUNCTIONFS_DESCRIPTORS_MAGIC_V2, sizeof(Descriptors),
                                      FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC};
    std::uint32_t fsCount = 3, hsCount = 3;
    // Full speed polls every 10 ms, high speed every 2^(4-1) microframes.
    HidInterface fs = hidInterface(10), hs = hidInterface(4);
};
#pragma pack(pop)

class UsbTarvex {
public:
    UsbTarvex(TarvexConfig config, int vanishInReport, FILE* log)
        : model_(std::move(config)), vanishInReport_(vanishInReport), log_(log) {}
    ~UsbTarvex() { removeGadget(); }

    void makeGadget() {
        removeGadget();
        if (::mount("none", ConfigFs.c_str(), "configfs", 0, nullptr) != 0 && errno != EBUSY)
            die("cannot mount configfs");
        const fs::path config = Gadget / "configs/c.1", function = Gadget / "functions/ffs.tarvex";
        for (const fs::path& dir : {Gadget, Gadget / "strings/0x409", config,
                                    config / "strings/0x409", function, FfsMount})
            if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
                die("cannot make " + dir.string());
        put(Gadget / "bcdUSB", "0x0200");
        put(config / "strings/0x409/configuration", "Tarvex");
        if (::symlink(function.c_str(), (config / "ffs.tarvex").c_str()) != 0)
            die("cannot add the function to the configuration");
        if (::mount("tarvex", FfsMount.c_str(), "functionfs", 0, nullptr) != 0)
            die("cannot mount functionfs");
        ep0_ = ::open((FfsMount / "ep0").c_str(), O_RDWR | O_CLOEXEC);
        const Descriptors descriptors;
        const usb_functionfs_strings_head strings{FUNCTIONFS_STRINGS_MAGIC, sizeof strings, 0, 0};
        if (ep0_ < 0 || ::write(ep0_, &descriptors, sizeof descriptors) < 0 ||
            ::write(ep0_, &strings, sizeof strings) < 0)
            die("cannot give FunctionFS the interface");
    }

    void serve() {
        pollfd ready{ep0_, POLLIN, 0};
        usb_functionfs_event event{};
        while (stopping == 0) {
            follow();
            if (::poll(&ready, 1, 5) == 1 && ::read(ep0_, &event, sizeof event) == sizeof event &&
                event.type == FUNCTIONFS_SETUP)
                setup(event.u.setup);
        }
    }

private:
    // Puts the gadget on the bus or takes it off as the model's timeline says; each time it
    // comes back it enumerates with the identity of the mode it is in.
    void follow() {
        model_.advance(clock_.nowMs());
        const std::uint64_t wanted = model_.present() ? model_.generation() : 0;
        if (wanted == onBus_)
            return;
        if (onBus_ != 0) {
            put(Gadget / "UDC", "\n");
            std::fprintf(log_, "unbound\n");
        }
        if ((onBus_ = wanted) == 0)
            return;
        const TarvexPersonality& p = model_.personality();
        put(Gadget / "idVendor", hex16(p.vendorId));
        put(Gadget / "idProduct", hex16(p.productId));
        put(Gadget / "bcdDevice", hex16(p.version));
        put(Gadget / "strings/0x409/manufacturer", utf8Text(p.manufacturer));
        put(Gadget / "strings/0x409/product", utf8Text(p.product));
        put(Gadget / "strings/0x409/serialnumber", utf8Text(p.serialNumber));
        put(Gadget / "UDC", Controller);
        std::fprintf(log_, "bound %04x:%04x\n", p.vendorId, p.productId);
    }

    // FunctionFS stalls an IN request when the program reads and an OUT one when it writes.
    void stall(const usb_ctrlrequest& request) {
        std::uint8_t byte = 0;
        const bool in = (request.bRequestType & USB_DIR_IN) != 0;
        [[maybe_unused]] const ssize_t n = in ? ::read(ep0_, &byte, 1) : ::write(ep0_, &byte, 1);
    }

    void reply(const usb_ctrlrequest& request, const std::uint8_t* data, std::size_t length) {
        [[maybe_unused]] const ssize_t n =
            ::write(ep0_, data, std::min<std::size_t>(length, request.wLength));
    }

    void setup(const usb_ctrlrequest& request) {
        const std::uint16_t length = model_.personality().featureReportByteLength;
        const int kind = request.bRequestType & (USB_DIR_IN | USB_TYPE_MASK);
        if (kind == USB_DIR_IN && request.bRequest == USB_REQ_GET_DESCRIPTOR &&
            request.wValue == ReportDescriptor) {
            const auto descriptor = tarvexReportDescriptor(length);
            reply(request, descriptor.data(), descriptor.size());
        } else if (kind == (USB_DIR_IN | USB_TYPE_CLASS) && request.bRequest == GetReport &&
                   request.wValue == FeatureReport) {
            std::vector<std::uint8_t> report(length);
            const std::uint8_t id = 0;
            if (model_.getFeature(&id, report.data(), report.size())) // without its ID, as sent
                reply(request, report.data() + 1, report.size() - 1);
            else
                stall(request);
        } else if (kind == USB_TYPE_CLASS && request.bRequest == SetReport &&
                   request.wValue == FeatureReport) {
            setReport(request);
        } else {
            stall(request);
        }
    }

    // The report comes without its ID (zero); the model takes it with the ID in front.
    void setReport(const usb_ctrlrequest& request) {
        const std::int64_t now = clock_.nowMs();
        std::vector<std::uint8_t> report(request.wLength + 1U, 0);
        const char* const in =
            model_.mode() == TarvexMode::Application ? "application" : "bootloader";
        if (model_.mode() == TarvexMode::Bootloader && ++bootloaderReports_ == vanishInReport_) {
            std::fprintf(log_, "%s set - vanished in its data stage\n", in);
            model_.vanish(now);
            follow();
            return;
        }
        // Once FunctionFS has taken a transfer's data it completes the transfer: a report is
        // stalled unread when the model would refuse any report of its length now (the status
        // bytes stay zero here, so no refusal depends on the content).
        VirtualTarvex trial = model_;
        if (!trial.setFeature(now, report.data(), report.size())) {
            model_ = std::move(trial);
            stall(request);
            std::fprintf(log_, "%s set - stalled\n", in);
            return;
        }
        if (::read(ep0_, report.data() + 1, request.wLength) != request.wLength) {
            std::fprintf(log_, "%s set - lost: %s\n", in, std::strerror(errno));
            return;
        }
        const bool taken = model_.setFeature(now, report.data(), report.size());
        std::fprintf(log_, "%s set %s %s\n", in, hex(report.data(), report.size()).c_str(),
                     taken ? "ok" : "refused after its data stage");
    }

    // Also what a killed run left, so nothing here fails for what is not there.
    void removeGadget() {
        if (const int udc = ::open((Gadget / "UDC").c_str(), O_WRONLY | O_CLOEXEC); udc >= 0) {
            [[maybe_unused]] const ssize_t n = ::write(udc, "\n", 1); // off the bus
            ::close(udc);
        }
        if (ep0_ >= 0)
            ::close(ep0_);
        ::umount(FfsMount.c_str());
        ::unlink((Gadget / "configs/c.1/ffs.tarvex").c_str());
        for (const char* dir : {"configs/c.1/strings/0x409", "configs/c.1", "functions/ffs.tarvex",
                                "strings/0x409", ""})
            ::rmdir((Gadget / dir).c_str());
        onBus_ = 0, ep0_ = -1;
    }

    VirtualTarvex model_;
    SteadyClock clock_;
    const int vanishInReport_;
    int bootloaderReports_ = 0;
    FILE* const log_;
    int ep0_ = -1;
    std::uint64_t onBus_ = 0; // the model's generation on the bus; 0: none
};

int run(int argc, char* argv[]) {
    TarvexConfig config = defaultTarvexConfig();
    TarvexFaults& faults = config.faults;
    std::string logPath;
    int vanishInReport = 0;
    CLI::App app("The Tarvex as a USB device on dummy_hcd, until SIGTERM or SIGINT.");
    app.add_option("--log", logPath, "Where the bus events and the reports set go")->required();
    app.add_option("--records", config.expectedRecords,
                   "Records the bootloader takes before it restarts");
    app.add_option("--off-bus-ms", config.offBusMs, "Time off the bus at each restart");
    app.add_option("--refuse-record", faults.failDataReport, "Stalls the k-th data report");
    app.add_option("--vanish-after", faults.vanishAfterDataReports,
                   "Leaves the bus for good after k records");
    app.add_option("--vanish-in-report", vanishInReport,
                   "Leaves the bus for good in the data stage of the bootloader's k-th report");
    CLI11_PARSE(app, argc, argv);

    FILE* log = std::fopen(logPath.c_str(), "w");
    if (log == nullptr)
        die("cannot open " + logPath);
    std::setvbuf(log, nullptr, _IOLBF, 0);
    struct sigaction stop {};
    stop.sa_handler = [](int) { stopping = 1; };
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    UsbTarvex tarvex(std::move(config), vanishInReport, log);
    tarvex.makeGadget();
    tarvex.serve();
    return 0;
}

} // namespace
} // namespace quorvane

int main(int argc, char* argv[]) {
    try {
        return quorvane::run(argc, argv);
    } catch (const std::exception& e) { // the gadget is removed on the way out
        std::fprintf(stderr, "usb_tarvex: %s\n", e.what());
        return 1;
    }
}
