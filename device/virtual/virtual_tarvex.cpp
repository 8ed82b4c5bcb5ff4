#include "virtual_tarvex.h"

#include <algorithm>
#include <utility>

namespace quorvane {

namespace {

// The report carries `code` right after its report ID.
template <std::size_t N>
bool carries(const std::array<std::uint8_t, N>& code, const std::uint8_t* data,
             std::size_t length) {
    return length >= 1 + N && std::equal(code.begin(), code.end(), data + 1);
}

} // namespace

TarvexConfig defaultTarvexConfig() {
    TarvexConfig c;
    c.application = {0x1D50,    AppModeProductId, 0x0213, u"Tarvex Devices",
                     u"Tarvex", u"TX-000417",     65};
    c.bootloader = {
        0x1D50, BootModeProductId, 0x0100, u"Tarvex Devices", u"Tarvex Bootloader", u"TX-000417",
        65};
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
        // A bootloader that enumerates takes an image from its first record again.
        if (mode_ == TarvexMode::Bootloader)
            dataReportsAccepted_ = 0;
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

void VirtualTarvex::vanish(std::int64_t now, std::int64_t after) {
    leaveAt_ = now + after;
    returnAt_.reset();
    advance(now);
}

bool VirtualTarvex::setFeature(std::int64_t now, const std::uint8_t* data, std::size_t length) {
    advance(now);
    lastReportLost_ = false;
    if (!present_ || length == 0 || length != personality().featureReportByteLength || data[0] != 0)
        return false;
    const auto& entry = config_.enterBootloaderCode;
    const bool isEntry = carries(entry, data, length);
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
    if (locked && carries(unlock, data, length)) {
        unlocked_ = true;
        return true;
    }
    const auto& entry = config_.enterBootloaderCode;
    if (carries(entry, data, length) && std::all_of(data + 1 + entry.size(), data + length,
                                                    [](std::uint8_t b) { return b == 0; })) {
        // The bootloader also honours the entry report: it restarts into itself.
        ++bootloaderEntries_;
        if (!config_.faults.stayAfterBootloaderEntry)
            restart(now, TarvexMode::Bootloader);
        return true;
    }
    ++dataReportsSeen_;
    if (dataReportsSeen_ == config_.faults.transportErrorAtDataReport) {
        lastReportLost_ = true;
        if (config_.faults.leaveAfterTransportErrorMs >= 0)
            vanish(now, config_.faults.leaveAfterTransportErrorMs);
        return false;
    }
    if (dataReportsSeen_ == config_.faults.failDataReport || locked)
        return false;
    Record record{};
    std::copy_n(data + 1, std::min(RecordSize, length - 1), record.begin());
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

bool VirtualTarvex::getString(StringKind kind, std::u16string& out) const {
    const auto& p = personality();
    const auto& f = config_.faults;
    switch (kind) {
    case StringKind::Manufacturer:
        out = p.manufacturer;
        return !f.failManufacturer;
    case StringKind::Product:
        out = p.product;
        return !f.failProduct;
    case StringKind::SerialNumber:
        out = p.serialNumber;
        return !f.failSerialNumber;
    }
    return false;
}

} // namespace quorvane
