#include "uhid_tarvex.h"

#include "device_info.h"

#include <utility>

namespace quorvane {

namespace {

// The kernel takes names as UTF-8.
std::string utf8(const std::u16string& text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return deviceStringText(bytes.data(), bytes.size());
}

} // namespace

UhidIdentity UhidTarvex::identityFor(const TarvexPersonality& personality,
                                     const std::string& phys) {
    UhidIdentity identity;
    identity.name = utf8(personality.product);
    identity.phys = phys;
    identity.uniq = utf8(personality.serialNumber);
    identity.vendorId = personality.vendorId;
    identity.productId = personality.productId;
    identity.version = personality.version;
    identity.reportDescriptor = vendorFeatureReportDescriptor(personality.featureReportByteLength);
    return identity;
}

std::unique_ptr<UhidTarvex> UhidTarvex::start(TarvexConfig config, std::string& error) {
    auto device = UhidDevice::open(error);
    if (!device)
        return nullptr;
    std::unique_ptr<UhidTarvex> tarvex(new UhidTarvex(std::move(device), std::move(config)));
    {
        const std::lock_guard lock(tarvex->mutex_);
        tarvex->sync(tarvex->device());
        if (tarvex->failure_) {
            error = *tarvex->failure_;
            return nullptr;
        }
    }
    tarvex->startServing();
    return tarvex;
}

UhidTarvex::UhidTarvex(std::unique_ptr<UhidDevice> device, TarvexConfig config)
    : UhidServer(std::move(device)), model_(std::move(config)), phys_(uniquePhysLabel()) {}

UhidTarvex::~UhidTarvex() {
    stopServing();
}

void UhidTarvex::sync(UhidDevice& device) {
    model_.advance(clock_.nowMs());
    const bool wanted = model_.present();
    if (device.exists() && (!wanted || model_.generation() != createdGeneration_)) {
        device.destroy(); // the host's open handles go stale with it
        open_ = false;
    }
    if (device.exists() || !wanted || triedGeneration_ == model_.generation())
        return;
    triedGeneration_ = model_.generation();
    const TarvexPersonality& personality = model_.personality();
    const UhidIdentity identity = identityFor(personality, phys_);
    if (identity.reportDescriptor.empty()) {
        failure_ = "no uhid device has feature reports of " +
                   std::to_string(personality.featureReportByteLength) + " bytes";
        return;
    }
    if (!device.create(identity)) {
        failure_ = "the kernel refused to create the device " + identity.name;
        return;
    }
    createdGeneration_ = model_.generation();
    productIdsCreated_.push_back(personality.productId);
}

bool UhidTarvex::getReport(UhidReportType type, std::uint8_t reportNumber,
                           std::vector<std::uint8_t>& reply) {
    if (type != UhidReportType::Feature)
        return false;
    const std::lock_guard lock(mutex_);
    model_.advance(clock_.nowMs());
    // The kernel does not pass on how many bytes the host asked for: the device answers with
    // its whole feature report, report-ID byte first.
    const std::size_t length = model_.personality().featureReportByteLength;
    reply.assign(length, 0);
    const std::uint8_t request[1] = {reportNumber};
    return model_.getFeature(request, reply.data(), length);
}

bool UhidTarvex::setReport(UhidReportType type, const std::uint8_t* data, std::size_t length) {
    if (type != UhidReportType::Feature)
        return false;
    const std::lock_guard lock(mutex_);
    return model_.setFeature(clock_.nowMs(), data, length);
}

void UhidTarvex::openedByHost(bool open) {
    const std::lock_guard lock(mutex_);
    open_ = open;
}

std::vector<std::uint16_t> UhidTarvex::productIdsCreated() const {
    const std::lock_guard lock(mutex_);
    return productIdsCreated_;
}

bool UhidTarvex::openByHost() const {
    const std::lock_guard lock(mutex_);
    return open_;
}

std::optional<std::string> UhidTarvex::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

} // namespace quorvane
