// The transfer: the image's records sent to the bootloader one per data report, the
// progress bar after every report, then the wait for the device to restart.
#include "firmware_updater.h"

#include "captions.h"
#include "command_reports.h"
#include "device_info.h"
#include "discovery.h"
#include "discovery_messages.h"

#include <array>

namespace quorvane {

namespace {

// Why the transfer stopped at the record after `sent` of `total`, in the system's words too.
std::string transferFailure(ReportFailure failure, std::int64_t sent, std::int64_t total,
                            const std::string& said, bool statusUnread) {
    const std::string of = " of " + std::to_string(total);
    std::string told = failure == ReportFailure::DeviceGone
                           ? "The device left the bus after " + std::to_string(sent) + of +
                                 " firmware records were sent"
                           : "The device rejected firmware record " + std::to_string(sent + 1) + of;
    if (!said.empty())
        told += " (the system said: " + said + ")";
    told += "; the update is incomplete.";
    if (failure != ReportFailure::DeviceGone && statusUnread)
        told += " Its status report could not be read before the transfer.";
    return told;
}

} // namespace

std::optional<std::size_t> FirmwareUpdater::reportLength(ReportKind kind) {
    const auto& caps = ctx_.state.Capabilities;
    const auto length =
        caps ? std::optional<std::size_t>(caps->FeatureReportByteLength) : std::nullopt;
    if (auto refused = refuseReportLength(kind, length, ctx_.api.maxReportLength())) {
        session().fail(*refused);
        return std::nullopt;
    }
    return length;
}

std::optional<CallResult>
FirmwareUpdater::report(ReportKind kind, const std::function<CallResult(std::size_t)>& exchange) {
    DeviceState& s = ctx_.state;
    const auto length = reportLength(kind);
    if (!length || !session().mayReport())
        return std::nullopt;
    const CallResult result = s.HidHandle.isOpen() ? exchange(*length) : CallResult{};
    s.LastResult = result.ok;
    return result;
}

std::vector<Step> FirmwareUpdater::transferSteps(const std::vector<Record>& records) {
    UpdateSession& session = this->session();
    return {{Phase::Sending, [this, &records] { return sendRecords(records); }},
            {Phase::Finishing, [this] { return restartPolls(); }},
            // The bootloader may go on writing its flash for a while: the window waits as long
            // as it takes, and says why; the command line gives up at its own limit.
            {Phase::WaitingForApplication, [&session] {
                 return session.waitFor(
                     WaitForm::Plain, {AppModeProductId, false, StillFinishingMessage},
                     "The device did not restart into its application firmware after the "
                     "update.");
             }}};
}

bool FirmwareUpdater::SendFlashData(const std::vector<Record>& records) {
    return session().drive(transferSteps(records));
}

bool FirmwareUpdater::sendRecords(const std::vector<Record>& records) {
    UpdateSession& session = this->session();
    DeviceState& s = ctx_.state;
    WindowSeam& w = ctx_.window;
    if (!s.DeviceFound || !reportLength(ReportKind::Data))
        return false;
    const auto blockCount = static_cast<std::int64_t>(records.size());
    if (session.recordsTotal() != blockCount) // a transfer run on its own
        session.setImage({}, blockCount);

    ctx_.api.sleep(SettlePauseMs);
    w.setProgressVisible(true);
    w.setProgress(0, 0);

    // The device must still answer before anything is sent.
    std::array<std::uint8_t, 2 * DeviceStringBytes + 1> probe{};
    s.LastResult = s.OverlappedHandle.isOpen() &&
                   ctx_.api
                       .getString(s.OverlappedHandle.raw(), StringKind::Manufacturer, probe.data(),
                                  DeviceStringBytes)
                       .ok;
    if (!s.LastResult)
        return session.fail("The device did not answer before the transfer; no firmware was sent.");

    w.setUpgradeCaption(CaptionUpdating);
    std::vector<std::uint8_t> reportBuffer;
    for (const Record& block : records) {
        const std::int64_t blocksSent = session.recordsSent();
        const auto sent = report(ReportKind::Data, [&](std::size_t length) {
            reportBuffer.resize(std::max(ReportBufferSize, length), 0);
            buildDataReport(reportBuffer, block);
            return ctx_.api.setFeature(s.HidHandle.raw(), reportBuffer.data(), length);
        });
        if (!sent) { // the user asked to stop
            s.closeHandles();
            return false;
        }
        if (!sent->ok) {
            w.setProgress(0, 0);
            s.closeHandles();
            const bool gone = sent->failure == ReportFailure::DeviceGone;
            return session.fail(transferFailure(sent->failure, blocksSent, blockCount,
                                                sent->error.text,
                                                statusUnread_ && blocksSent == 0) +
                                    (gone ? " Check the cable (avoid hubs and docks) and "
                                            "connect the Tarvex again, then " +
                                                services_.restartWords + "."
                                          : std::string()),
                                gone ? FailureKind::Left : FailureKind::Device);
        }
        ctx_.api.sleep(RecordPauseMs);
        session.recordAccepted();
        // The product in 32 bits, the division in floating point, as the bar always had it.
        const std::int32_t product = static_cast<std::int32_t>(blocksSent + 1) *
                                     static_cast<std::int32_t>(s.ProgressFullWidth);
        w.setProgress(
            static_cast<float>(static_cast<double>(product) / static_cast<double>(blockCount)),
            100.0 * static_cast<double>(blocksSent + 1) / static_cast<double>(blockCount));
        w.repaintProgress();
        w.processEvents();
    }
    return true;
}

bool FirmwareUpdater::restartPolls() {
    UpdateSession& session = this->session();
    WindowSeam& w = ctx_.window;
    w.setUpgradeCaption(CaptionFinishing);
    w.setProgress(0, 0);
    ctx_.state.closeHandles();
    const UnitIdentity* target = session.target() ? &*session.target() : nullptr;
    // A few bare attempts while the device restarts, window events held back; an interrupt
    // meanwhile is seen at once.
    for (int attempt = 0; attempt < RestartPolls; ++attempt) {
        if (session.stopIfAsked())
            return false;
        ctx_.api.sleep(DiscoveryPauseMs);
        session.noteOtherUnits(FindAndShowDevice(ctx_, target).otherUnits);
    }
    return true;
}

} // namespace quorvane
