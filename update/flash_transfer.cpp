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

bool FirmwareUpdater::SendFlashData(const std::vector<Record>& records) {
    UpdateSession& session = this->session();
    DeviceState& s = ctx_.state;
    WindowSeam& w = ctx_.window;
    if (!s.DeviceFound)
        return false;

    const auto length = reportLength(ReportKind::Data);
    if (!length)
        return false;
    const std::size_t reportLength = *length;
    const auto blockCount = static_cast<std::int64_t>(records.size());
    if (session.recordsTotal() != blockCount) // a transfer run on its own
        session.setImage({}, blockCount);
    std::vector<std::uint8_t> reportBuffer = makeReportBuffer(ReportBufferSize, reportLength);

    ctx_.api.sleep(SettlePauseMs);
    w.setProgressVisible(true);
    w.setProgress(0, 0);

    // The device must still answer before anything is sent.
    std::array<std::uint8_t, 2 * DeviceStringBytes + 1> probe{};
    s.LastResult = s.OverlappedHandle.isOpen() &&
                   ctx_.api.getString(s.OverlappedHandle.raw(), StringKind::Manufacturer,
                                      probe.data(), DeviceStringBytes);
    if (!s.LastResult)
        return session.fail("The device did not answer before the transfer; no firmware was sent.");

    w.setUpgradeCaption(CaptionUpdating);
    session.enter(Phase::Sending);
    for (const Record& block : records) {
        // The user may have asked to stop while the last record went out.
        if (!session.mayReport()) {
            closeDeviceHandles(ctx_);
            return false;
        }
        buildDataReport(reportBuffer, block);
        s.LastResult = s.HidHandle.isOpen() &&
                       ctx_.api.setFeature(s.HidHandle.raw(), reportBuffer.data(), reportLength);
        const std::int64_t blocksSent = session.recordsSent();
        if (!s.LastResult) {
            // Asked before the handles close: closing may leave a reason of its own.
            const ReportFailure failure = ctx_.api.lastReportFailure();
            const std::string said = ctx_.api.lastError().text;
            w.setProgress(0, 0);
            closeDeviceHandles(ctx_);
            return session.fail(transferFailure(failure, blocksSent, blockCount, said,
                                                statusUnread_ && blocksSent == 0));
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

    session.enter(Phase::Finishing);
    w.setUpgradeCaption(CaptionFinishing);
    w.setProgress(0, 0);
    closeDeviceHandles(ctx_);
    // A few bare attempts while the device restarts, window events held back.
    for (int attempt = 0; attempt < RestartPolls; ++attempt) {
        ctx_.api.sleep(DiscoveryPauseMs);
        closeDeviceHandles(ctx_); // the pair an earlier attempt left open
        FindAndShowDevice(ctx_);
    }
    session.enter(Phase::WaitingForApplication);
    // The bootloader may go on writing its flash for a while: the window waits as long as it
    // takes, and says why; the command line gives up at its own limit.
    WaitRules rules{AppModeProductId, s.AbsentLimitMs, StillFinishingMessage};
    return settleWait(WaitForDevice(ctx_, WaitForm::Plain, rules),
                      "The device did not restart into its application firmware after the update.");
}

bool FirmwareUpdater::settleWait(WaitOutcome outcome, const std::string& wrongModeMessage) {
    UpdateSession& session = this->session();
    switch (outcome) {
    case WaitOutcome::Found:
        return true;
    case WaitOutcome::WindowClosed:
        session.noteStopped();
        return false;
    case WaitOutcome::SeveralUnits:
        return session.fail(severalUnitsMessage(ctx_.state.TarvexUnits), FailureKind::Units);
    case WaitOutcome::StayedAway: {
        const std::string& denied = ctx_.state.AccessDeniedPath;
        return session.fail(denied.empty() ? notBackMessage(*ctx_.state.AbsentLimitMs)
                                           : deniedAccessAdvice(ThisSystem, denied, false),
                            FailureKind::NotBack);
    }
    case WaitOutcome::StayedInWrongMode:
        break;
    }
    return session.fail(wrongModeMessage, FailureKind::NotBack);
}

} // namespace quorvane
