#include "virtual_tarvex.h"

#include <algorithm>
#include <utility>

namespace quorvane {

TarvexConfig defaultTarvexConfig() {
    TarvexConfig c;
    c.application = {0x1D50, 0x2211, 0x0213, u"Tarvex Devices", u"Tarvex", u"TX-000417", 65};
    c.bootloader = {0x1D50,       0xB046, 0x0100, u"Tarvex Devices", u"Tarvex Bootloader",
                    u"TX-000417", 65};
    c.enterBootloaderCode = {0xB0, 0x07, 0x1D};
    c.unlockCode = {0x55, 0x4E, 0x4C, 0x4F, 0x43, 0x4B, 0x21, 0x21};
    return c;
}

VirtualTarvex::VirtualTarvex(TarvexConfig config)
    : config_(std::move(config)), mode_(config_.startMode) {}

const TarvexPersonality& VirtualTarvex::personality() const {
    return mode_ == TarvexMode::Application ? config_.application : config_.bootloader;
}

void VirtualTarvex::advance(std::int64_t now) {
    if (leaveAt_ && now >= *leaveAt_) {
        leaveAt_.reset();
        present_ = false;
    }
    if (!leaveAt_ && returnAt_ && now >= *returnAt_) {
        returnAt_.reset();
        present_ = true;
        mode_ = returnMode_;
        ++generation_;
        unlocked_ = false;
    }
}

void VirtualTarvex::restart(std::int64_t now, TarvexMode into, bool comeBack) {
    ++restarts_;
    leaveAt_ = now + config_.leaveDelayMs;
    returnMode_ = into;
    if (comeBack)
        returnAt_ = *leaveAt_ + config_.offBusMs;
    else
        returnAt_.reset();
    advance(now);
}

void VirtualTarvex::vanish(std::int64_t now) {
    leaveAt_ = now;
    returnAt_.reset();
    advance(now);
}

bool VirtualTarvex::setFeature(std::int64_t now, const std::uint8_t* data, std::size_t length) {
    advance(now);
    if (!present_ || length == 0 || length != personality().featureReportByteLength || data[0] != 0)
        return false;
    const auto& entry = config_.enterBootloaderCode;
    const bool isEntry = length >= 4 && std::equal(entry.begin(), entry.end(), data + 1);
    if (mode_ == TarvexMode::Application) {
        if (isEntry) {
            ++bootloaderEntries_;
            if (!config_.faults.stayAfterBootloaderEntry)
                restart(now, TarvexMode::Bootloader);
        }
        return true; // the application firmware ignores reports it does not know
    }
    return handleBootloaderReport(now, data, length);
}

bool VirtualTarvex::handleBootloaderReport(std::int64_t now, const std::uint8_t* data,
                                           std::size_t length) {
    const bool locked = (config_.statusBytes[0] != 0 || config_.statusBytes[1] != 0) && !unlocked_;
    const auto& unlock = config_.unlockCode;
    if (locked && length >= 9 && std::equal(unlock.begin(), unlock.end(), data + 1)) {
        unlocked_ = true;
        return true;
    }
    const auto& entry = config_.enterBootloaderCode;
    if (length >= 4 && std::equal(entry.begin(), entry.end(), data + 1) &&
        std::all_of(data + 4, data + length, [](std::uint8_t b) { return b == 0; })) {
        // The bootloader also honours the entry report: it restarts into itself.
        ++bootloaderEntries_;
        if (!config_.faults.stayAfterBootloaderEntry)
            restart(now, TarvexMode::Bootloader);
        return true;
    }
    ++dataReportsSeen_;
    if (dataReportsSeen_ == config_.faults.failDataReport || locked)
        return false;
    std::array<std::uint8_t, 40> record{};
    std::copy_n(data + 1, std::min<std::size_t>(40, length - 1), record.begin());
    if (config_.keepRecords)
        records_.push_back(record);
    ++dataReportsAccepted_;
    if (config_.faults.vanishAfterDataReports != 0 &&
        dataReportsAccepted_ == config_.faults.vanishAfterDataReports) {
        vanish(now);
    } else if (config_.expectedRecords > 0 && dataReportsAccepted_ == config_.expectedRecords) {
        restart(now, config_.faults.restartInto.value_or(TarvexMode::Application),
                !config_.faults.neverReturn);
    }
    return true;
}

bool VirtualTarvex::getFeature(const std::uint8_t* request, std::uint8_t* data,
                               std::size_t length) {
    if (!present_ || mode_ != TarvexMode::Bootloader || config_.faults.failStatus || length == 0 ||
        length != personality().featureReportByteLength || request[0] != 0)
        return false;
    std::fill_n(data, length, 0);
    for (std::size_t i = 0; i < 2 && i + 1 < length; ++i)
        data[i + 1] = config_.statusBytes[i];
    return true;
}

bool VirtualTarvex::getString(int kind, std::u16string& out) const {
    const auto& p = personality();
    const auto& f = config_.faults;
    switch (kind) {
    case 0:
        out = p.manufacturer;
        return !f.failManufacturer;
    case 1:
        out = p.product;
        return !f.failProduct;
    default:
        out = p.serialNumber;
        return !f.failSerialNumber;
    }
}

} // namespace quorvane
