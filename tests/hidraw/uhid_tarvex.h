// The kernel transport of the virtual Tarvex (Linux): the device model of virtual_tarvex.h
// reached through a uhid device, so that the host program meets it as a hidraw node through
// the kernel's HID stack. Feature reports from the host are answered by the model; the model's
// timeline runs on the steady clock, and when the model leaves the bus the kernel device is
// destroyed, to be created anew, with the personality of its new mode, when the model returns.
#pragma once

#include "clock.h"
#include "uhid_device.h"
#include "virtual_tarvex.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class UhidTarvex final : private UhidServer {
public:
    // Creates the kernel device for the model's starting mode and serves it; nullptr with the
    // reason in `error` when /dev/uhid cannot be used.
    static std::unique_ptr<UhidTarvex> start(TarvexConfig config, std::string& error);
    ~UhidTarvex() override;

    // Runs `f` with the model, which the serving thread does not touch meanwhile.
    template <typename F> decltype(auto) inspect(F&& f) const {
        const std::lock_guard lock(mutex_);
        return f(static_cast<const VirtualTarvex&>(model_));
    }
    template <typename F> decltype(auto) modify(F&& f) {
        const std::lock_guard lock(mutex_);
        return f(model_);
    }

    // The label that tells this device apart from every other one in sysfs.
    const std::string& phys() const { return phys_; }
    // Its hidraw node while it is on the bus.
    std::optional<std::string> hidrawPath() const { return findHidrawNode(phys_); }
    // The product ID of each kernel device made so far, in order.
    std::vector<std::uint16_t> productIdsCreated() const;
    // Whether the host has the current kernel device open.
    bool openByHost() const;
    // Why the kernel refused to create the device, if it did.
    std::optional<std::string> failure() const;

    // The identity the kernel is given for a personality.
    static UhidIdentity identityFor(const TarvexPersonality& personality, const std::string& phys);

private:
    UhidTarvex(std::unique_ptr<UhidDevice> device, TarvexConfig config);
    void sync(UhidDevice& device) override;
    bool getReport(UhidReportType type, std::uint8_t reportNumber,
                   std::vector<std::uint8_t>& reply) override;
    bool setReport(UhidReportType type, const std::uint8_t* data, std::size_t length) override;
    void openedByHost(bool open) override;

    SteadyClock clock_;
    VirtualTarvex model_;
    std::string phys_;
    // The model generation the kernel device stands for, and the last one tried.
    std::uint64_t createdGeneration_ = 0;
    std::uint64_t triedGeneration_ = 0;
    std::vector<std::uint16_t> productIdsCreated_;
    bool open_ = false;
    std::optional<std::string> failure_;
};

} // namespace quorvane
