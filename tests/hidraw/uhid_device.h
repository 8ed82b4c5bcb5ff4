// One HID device that the Linux kernel treats as real, made through /dev/uhid: it enumerates as
// a hidraw node, and every report the host exchanges with it travels through the kernel's HID
// stack to this process. Each device has a /dev/uhid file of its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quorvane {

// The kernel's limits on a uhid device: report descriptor and report bytes.
inline constexpr std::size_t UhidMaxDescriptorBytes = 4096;
inline constexpr std::size_t UhidMaxReportBytes = 4096;

// What the kernel is told when the device is created.
struct UhidIdentity {
    std::string name; // becomes the product string hidapi reports
    std::string phys; // a label that tells this process's devices apart in sysfs
    std::string uniq; // becomes the serial number
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t version = 0;
    std::vector<std::uint8_t> reportDescriptor;
};

// A report descriptor with one vendor-defined application collection holding a single feature
// report of (featureReportByteLength - 1) data bytes and no report IDs, so that the
// capabilities query gives back featureReportByteLength. Lengths from 2 to UhidMaxReportBytes
// are accepted; others give an empty descriptor.
std::vector<std::uint8_t> vendorFeatureReportDescriptor(std::uint16_t featureReportByteLength);

enum class UhidReportType { Feature, Output, Input };

// Answers the requests the kernel forwards from the host. Called on the thread that serves the
// device.
class UhidResponder {
public:
    UhidResponder() = default;
    UhidResponder(const UhidResponder&) = delete;
    UhidResponder& operator=(const UhidResponder&) = delete;
    virtual ~UhidResponder() = default;

    // A get-report request for `reportNumber`; true with `reply` filled (the report-ID byte
    // included) on success, false to make the host's request fail.
    virtual bool getReport(UhidReportType type, std::uint8_t reportNumber,
                           std::vector<std::uint8_t>& reply) = 0;
    // A set-report request; `data` holds the whole report, its report-ID byte first.
    virtual bool setReport(UhidReportType type, const std::uint8_t* data, std::size_t length) = 0;
    // The host opened the device (its first user) or closed it (its last).
    virtual void openedByHost(bool open) = 0;
};

class UhidDevice {
public:
    // Opens /dev/uhid. Returns nullptr, with the reason in `error`, where that is impossible
    // (no uhid module, no permission).
    static std::unique_ptr<UhidDevice> open(std::string& error);

    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;
    ~UhidDevice(); // destroys the device if it exists, and closes the file

    // UHID_CREATE2 on the USB bus; false when the kernel refuses it or the device exists.
    bool create(const UhidIdentity& identity);
    // UHID_DESTROY; the kernel fails the host's pending requests. Requests the kernel queued
    // for the destroyed device are dropped unanswered, so none can reach a later one.
    bool destroy();
    bool exists() const { return exists_; }

    // Waits up to `timeoutMs` for one request from the kernel and has `responder` answer it.
    // False when nothing arrived in time or the file failed.
    bool serveOne(int timeoutMs, UhidResponder& responder);

private:
    explicit UhidDevice(int fd) : fd_(fd) {}
    bool write(const void* event, std::size_t size);
    void dropQueued();

    int fd_ = -1;
    bool exists_ = false;
};

// The hidraw node (/dev/hidrawN) of the device whose phys label is `phys`, while it exists.
std::optional<std::string> findHidrawNode(const std::string& phys);
// A phys label no other device of this process has.
std::string uniquePhysLabel();

// Serves one uhid device from a thread of its own: between requests, and at least every
// PollIntervalMs, it lets the subclass bring the device up to date (sync). Subclasses start
// serving once constructed and stop before their members go.
class UhidServer : protected UhidResponder {
public:
    static constexpr int PollIntervalMs = 5;

protected:
    explicit UhidServer(std::unique_ptr<UhidDevice> device) : device_(std::move(device)) {}
    ~UhidServer() override;

    void startServing();
    void stopServing();
    // Called with mutex_ held.
    virtual void sync(UhidDevice& device) = 0;

    UhidDevice& device() { return *device_; }

    mutable std::mutex mutex_;

private:
    void serve();

    std::unique_ptr<UhidDevice> device_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// A HID device that is not a Tarvex: it enumerates with its own identity, fails every report
// asked of it, and counts how often the host opened it.
class UhidForeignDevice final : private UhidServer {
public:
    // Creates the device (its phys label is chosen here) and serves it; nullptr with the reason
    // in `error` when that is impossible.
    static std::unique_ptr<UhidForeignDevice> start(UhidIdentity identity, std::string& error);
    ~UhidForeignDevice() override;

    const std::string& phys() const { return identity_.phys; }
    std::optional<std::string> hidrawPath() const { return findHidrawNode(identity_.phys); }
    int opens() const;
    bool openByHost() const;
    int reportsAsked() const;

private:
    UhidForeignDevice(std::unique_ptr<UhidDevice> device, UhidIdentity identity);
    void sync(UhidDevice& device) override;
    bool getReport(UhidReportType type, std::uint8_t reportNumber,
                   std::vector<std::uint8_t>& reply) override;
    bool setReport(UhidReportType type, const std::uint8_t* data, std::size_t length) override;
    void openedByHost(bool open) override;

    UhidIdentity identity_;
    int opens_ = 0;
    bool open_ = false;
    int reportsAsked_ = 0;
};

} // namespace quorvane
