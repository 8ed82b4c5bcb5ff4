// "Upgrade Firmware" and "Force Bootloader Mode".
#include "firmware_updater.h"

#include "captions.h"
#include "command_reports.h"
#include "discovery.h"
#include "discovery_messages.h"
#include "firmware_image.h"
#include "sha256.h"

#include <exception>
#include <utility>

namespace quorvane {

FirmwareUpdater::FirmwareUpdater(DeviceContext ctx, std::filesystem::path imagePath,
                                 CommandServices services)
    : ctx_(ctx), imagePath_(std::move(imagePath)), services_(std::move(services)) {}

template <typename Steps> void FirmwareUpdater::guarded(Steps&& steps) {
    const auto stopped = [this](const std::string& why) {
        ctx_.window.setProgress(0, 0);
        closeDeviceHandles(ctx_);
        fail("The command stopped on an unexpected error: " + why);
    };
    try {
        steps();
    } catch (const std::exception& e) {
        stopped(e.what());
    } catch (...) {
        stopped("unknown error");
    }
}

std::optional<std::size_t> FirmwareUpdater::reportLength(ReportKind kind) {
    const auto& caps = ctx_.state.Capabilities;
    const auto length =
        caps ? std::optional<std::size_t>(caps->FeatureReportByteLength) : std::nullopt;
    if (auto refused = refuseReportLength(kind, length, ctx_.api.maxReportLength())) {
        fail(*refused);
        return std::nullopt;
    }
    return length;
}

bool FirmwareUpdater::shownUnitAlone() {
    const bool listed = CountTarvexUnits(ctx_);
    if (ctx_.state.TarvexUnits.size() > 1)
        return fail(severalUnitsMessage(ctx_.state.TarvexUnits), FailureKind::Units);
    if (listed)
        return true;
    // Another unit may have taken its place: the user sees it before anything is sent to it.
    closeDeviceHandles(ctx_);
    FindAndShowDevice(ctx_);
    return fail(MessageShownUnitLeft, FailureKind::Units);
}

bool FirmwareUpdater::EnterBootloader() {
    failure_.reset();
    DeviceState& s = ctx_.state;
    const auto length = reportLength(ReportKind::BootloaderEntry);
    if (!length)
        return false;
    std::vector<std::uint8_t> commandBuffer = makeReportBuffer(CommandBufferSize, *length);
    buildBootloaderEntryReport(commandBuffer);
    s.LastResult = s.HidHandle.isOpen() &&
                   ctx_.api.setFeature(s.HidHandle.raw(), commandBuffer.data(), *length);
    return settleWait(WaitForDevice(ctx_, WaitForm::InitialPoll, BootModeProductId),
                      MessageNoBootloader);
}

bool FirmwareUpdater::unlockIfAsked() {
    DeviceState& s = ctx_.state;
    const auto length = reportLength(ReportKind::Status);
    if (!length)
        return false;
    if (s.FeatureReport.size() < *length)
        s.FeatureReport.resize(*length, 0);
    s.FeatureReport[0] = 0;
    s.LastResult = s.HidHandle.isOpen() &&
                   ctx_.api.getFeature(s.HidHandle.raw(), s.FeatureReport.data(), *length);
    statusUnread_ = !s.LastResult;
    if (!s.LastResult || !statusWantsUnlock(s.FeatureReport))
        return true;
    if (!reportLength(ReportKind::Unlock))
        return false;
    std::vector<std::uint8_t> commandBuffer = makeReportBuffer(CommandBufferSize, *length);
    buildUnlockReport(commandBuffer);
    s.LastResult = ctx_.api.setFeature(s.HidHandle.raw(), commandBuffer.data(), *length);
    return true;
}

void FirmwareUpdater::report() {
    if (!ctx_.window.closeRequested() && failure_)
        ctx_.window.tellUser(*failure_);
}

bool FirmwareUpdater::deviceAtHand() {
    if (ctx_.state.DeviceFound)
        return true;
    closeDeviceHandles(ctx_);
    if (FindAndShowDevice(ctx_))
        return true;
    const std::string& denied = ctx_.state.AccessDeniedPath;
    ctx_.window.tellUser(denied.empty() ? MessageNoTarvex
                                        : deniedAccessAdvice(ThisSystem, denied, false));
    return false;
}

void FirmwareUpdater::upgrade() {
    if (!deviceAtHand())
        return;
    // Nothing is touched before the image is known to be sendable; the records read now are
    // the ones sent, whatever happens to the file meanwhile.
    CommandRun run(services_, ctx_.state, "upgrade");
    const ImageCheck image = checkFirmwareImage(imagePath_);
    if (image.problem) {
        fail(*image.problem, FailureKind::Image);
        ctx_.window.tellUser(*image.problem);
        run.finish(ctx_.state, image.problem, false);
        return;
    }
    const std::size_t bytes = image.records.size() * RecordSize;
    run.setImage({displayPath(imagePath_), bytes, sha256Hex(image.records.data(), bytes)},
                 static_cast<std::int64_t>(image.records.size()));
    failure_.reset();
    recordsSent_ = 0;
    WindowSeam& w = ctx_.window;
    w.setUpgradeEnabled(false);

    guarded([&] {
        run.holdSleep();
        if (!shownUnitAlone())
            return;
        if (ctx_.state.Attributes.ProductID == AppModeProductId) {
            w.setUpgradeCaption(CaptionSwitching);
            if (!EnterBootloader())
                return;
        }
        if (!settleWait(WaitForDevice(ctx_, WaitForm::Plain, BootModeProductId),
                        MessageNoBootloader))
            return;
        if (unlockIfAsked())
            SendFlashData(image.records);
    });
    report();
    run.setRecordsSent(recordsSent_);
    run.finish(ctx_.state, failure_, w.closeRequested());
    closeDeviceHandles(ctx_);
    w.unload();
}

void FirmwareUpdater::forceBootloader() {
    if (!deviceAtHand())
        return;
    CommandRun run(services_, ctx_.state, "bootloader");
    failure_.reset();
    guarded([&] {
        run.holdSleep();
        shownUnitAlone() && EnterBootloader();
    });
    report();
    run.finish(ctx_.state, failure_, ctx_.window.closeRequested());
}

} // namespace quorvane
