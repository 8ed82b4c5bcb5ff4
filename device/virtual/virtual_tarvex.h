// The virtual Tarvex: a model of the device's behaviour, independent of how it is reached.
// It knows its two personalities (application firmware and bootloader), answers feature
// reports, leaves the bus and comes back on a timeline, and fails on demand. Transports (the
// in-process platform, a kernel device) ask it what is present at a given time.
#pragma once

#include "ApiDeclarations.h"
#include "tarvex_protocol.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

enum class TarvexMode { Application, Bootloader };

struct TarvexPersonality {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t version = 0;
    std::u16string manufacturer;
    std::u16string product;
    std::u16string serialNumber;
    std::uint16_t featureReportByteLength = 0;
};

// Faults the device shows on demand. Counts are 1-based; 0 means "never".
struct TarvexFaults {
    bool failOpen = false;           // every open of the device fails
    bool failOverlappedOpen = false; // only the second (overlapped) open fails
    bool failAttributes = false;
    bool failCapabilities = false;
    bool failManufacturer = false;
    bool failProduct = false;
    bool failSerialNumber = false;
    bool failStatus = false;
    int failDataReport = 0;                // the k-th data report is rejected
    int vanishAfterDataReports = 0;        // leaves the bus for good after k accepted data reports
    bool stayAfterBootloaderEntry = false; // ignores the bootloader-entry report
    std::optional<TarvexMode> restartInto; // mode after the transfer's restart (default: app)
    bool neverReturn = false;              // leaves the bus after a restart and never comes back
    bool deniedInBootloader = false;       // its bootloader's interface may not be opened
    // The k-th data report is lost on the way (a transport error, not the device's refusal);
    // the device then leaves the bus for good this long after, or stays on it (-1).
    int transportErrorAtDataReport = 0;
    int leaveAfterTransportErrorMs = -1;
};

struct TarvexConfig {
    TarvexPersonality application;
    TarvexPersonality bootloader;
    TarvexMode startMode = TarvexMode::Application;
    // The codes the firmware agrees on with the host.
    std::array<std::uint8_t, EnterBootloaderCode.size()> enterBootloaderCode = EnterBootloaderCode;
    std::array<std::uint8_t, UnlockCode.size()> unlockCode = UnlockCode;
    // The two status bytes the bootloader answers with; non-zero asks for the unlock report.
    std::array<std::uint8_t, 2> statusBytes{};
    // Timeline of a restart: stays on the bus for leaveDelayMs after the command, then is
    // absent for offBusMs, then enumerates anew.
    int leaveDelayMs = 30;
    int offBusMs = 250;
    // Records the bootloader takes before it restarts into the application firmware.
    int expectedRecords = 0;
    // Keep every record received (tests); off, only their count (the benchmark's memory run).
    bool keepRecords = true;
    TarvexFaults faults;
};

// Defaults that look like a real Tarvex, used by the demo and most tests.
TarvexConfig defaultTarvexConfig();

class VirtualTarvex {
public:
    explicit VirtualTarvex(TarvexConfig config);

    // Applies every transition due by `now`. Call before asking anything else.
    void advance(std::int64_t now);

    bool present() const { return present_; }
    TarvexMode mode() const { return mode_; }
    // Increases every time the device enumerates anew; handles of an older one are stale.
    std::uint64_t generation() const { return generation_; }
    const TarvexPersonality& personality() const;

    TarvexConfig& config() { return config_; }
    const TarvexConfig& config() const { return config_; }

    // A feature report from the host; `now` dates any restart it causes.
    bool setFeature(std::int64_t now, const std::uint8_t* data, std::size_t length);
    // The status report to the host, `length` bytes with the report ID in byte 0.
    bool getFeature(const std::uint8_t* request, std::uint8_t* data, std::size_t length);
    bool getString(StringKind kind, std::u16string& out) const;

    // Records of firmware the bootloader accepted, in arrival order.
    const std::vector<Record>& records() const { return records_; }
    // Records of the image being written: since the bootloader last enumerated.
    int recordsReceived() const { return dataReportsAccepted_; }
    bool unlocked() const { return unlocked_; }
    int bootloaderEntries() const { return bootloaderEntries_; }
    int restarts() const { return restarts_; }
    int dataReportsSeen() const { return dataReportsSeen_; }
    // The last report from the host was lost to a transport error rather than refused.
    bool lastReportLost() const { return lastReportLost_; }

    // Leave the bus after the configured delay and come back in `into` (or never).
    void restart(std::int64_t now, TarvexMode into, bool comeBack = true);
    // Drop off the bus `after` ms from now, for good.
    void vanish(std::int64_t now, std::int64_t after = 0);

private:
    bool handleBootloaderReport(std::int64_t now, const std::uint8_t* data, std::size_t length);

    TarvexConfig config_;
    TarvexMode mode_;
    bool present_ = true;
    std::uint64_t generation_ = 1;
    std::optional<std::int64_t> leaveAt_;
    std::optional<std::int64_t> returnAt_;
    TarvexMode returnMode_ = TarvexMode::Application;
    bool unlocked_ = false;
    int bootloaderEntries_ = 0;
    int restarts_ = 0;
    int dataReportsSeen_ = 0;
    int dataReportsAccepted_ = 0;
    bool lastReportLost_ = false;
    std::vector<Record> records_;
};

} // namespace quorvane
