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

bool FirmwareUpdater::SendFlashData(const std::vector<Record>& records) {
    failure_.reset();
    DeviceState& s = ctx_.state;
    WindowSeam& w = ctx_.window;
    if (!s.DeviceFound)
        return false;

    const auto length = reportLength(ReportKind::Data);
    if (!length)
        return false;
    const std::size_t reportLength = *length;
    const auto blockCount = static_cast<std::int64_t>(records.size());
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
        return fail("The device did not answer before the transfer; no firmware was sent.");

    w.setUpgradeCaption(CaptionUpdating);

    std::int64_t& blocksSent = recordsSent_;
    blocksSent = 0;
    for (const Record& block : records) {
        buildDataReport(reportBuffer, block);
        s.LastResult = s.HidHandle.isOpen() &&
                       ctx_.api.setFeature(s.HidHandle.raw(), reportBuffer.data(), reportLength);
        if (!s.LastResult) {
            w.setProgress(0, 0);
            closeDeviceHandles(ctx_);
            const std::string of = " of " + std::to_string(blockCount);
            if (ctx_.api.lastReportFailure() == ReportFailure::DeviceGone)
                return fail("The device left the bus after " + std::to_string(blocksSent) + of +
                            " firmware records were sent; the update is incomplete.");
            return fail("The device rejected firmware record " + std::to_string(blocksSent + 1) +
                        of + "; the update is incomplete." +
                        (statusUnread_ && blocksSent == 0
                             ? " Its status report could not be read before the transfer."
                             : ""));
        }
        ctx_.api.sleep(RecordPauseMs);
        ++blocksSent;
        // The product in 32 bits, the division in floating point, as the bar always had it.
        const std::int32_t product =
            static_cast<std::int32_t>(blocksSent) * static_cast<std::int32_t>(s.ProgressFullWidth);
        w.setProgress(
            static_cast<float>(static_cast<double>(product) / static_cast<double>(blockCount)),
            100.0 * static_cast<double>(blocksSent) / static_cast<double>(blockCount));
        w.repaintProgress();
        w.processEvents();
        // Nothing goes out while the user is asked.
        if (w.closeRequested() && w.confirmStop(QuestionStopTransfer)) {
            closeDeviceHandles(ctx_);
            return false;
        }
    }

    w.setUpgradeCaption(CaptionFinishing);
    w.setProgress(0, 0);
    closeDeviceHandles(ctx_);
    // A few bare attempts while the device restarts, window events held back.
    for (int attempt = 0; attempt < RestartPolls; ++attempt) {
        ctx_.api.sleep(DiscoveryPauseMs);
        closeDeviceHandles(ctx_); // the pair an earlier attempt left open
        FindAndShowDevice(ctx_);
    }
    return settleWait(WaitForDevice(ctx_, WaitForm::Plain, AppModeProductId),
                      "The device did not restart into its application firmware after the update.");
}

bool FirmwareUpdater::settleWait(WaitOutcome outcome, const std::string& wrongModeMessage) {
    switch (outcome) {
    case WaitOutcome::Found:
        return true;
    case WaitOutcome::WindowClosed:
        return false;
    case WaitOutcome::SeveralUnits:
        return fail(severalUnitsMessage(ctx_.state.TarvexUnits), FailureKind::Units);
    case WaitOutcome::StayedAway:
        return fail(notBackMessage(*ctx_.state.AbsentLimitMs), FailureKind::NotBack);
    case WaitOutcome::StayedInWrongMode:
        break;
    }
    return fail(wrongModeMessage, FailureKind::NotBack);
}

bool FirmwareUpdater::fail(const std::string& message, FailureKind kind) {
    failure_ = message;
    failureKind_ = kind;
    return false;
}

} // namespace quorvane
