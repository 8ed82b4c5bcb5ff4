// "Upgrade Firmware" and "Force Bootloader Mode".
#include "firmware_updater.h"

#include "captions.h"
#include "command_reports.h"
#include "discovery.h"
#include "discovery_messages.h"
#include "firmware_image.h"
#include "sha256.h"

#include <utility>

namespace quorvane {

FirmwareUpdater::FirmwareUpdater(DeviceContext ctx, std::filesystem::path imagePath,
                                 CommandServices services)
    : ctx_(ctx), imagePath_(std::move(imagePath)), services_(std::move(services)) {}

UpdateSession& FirmwareUpdater::begin(const char* command) {
    statusUnread_ = false;
    return session_.emplace(ctx_, services_, command);
}

UpdateSession& FirmwareUpdater::session() {
    return session_ ? *session_ : begin("transfer");
}

std::optional<std::string> FirmwareUpdater::failure() const {
    return session_ ? session_->failure() : std::nullopt;
}

FailureKind FirmwareUpdater::failureKind() const {
    return session_ ? session_->failureKind() : FailureKind::None;
}

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

bool FirmwareUpdater::EnterBootloader() {
    UpdateSession& session = this->session();
    DeviceState& s = ctx_.state;
    session.enter(Phase::EnteringBootloader);
    const auto length = reportLength(ReportKind::BootloaderEntry);
    if (!length || !session.mayReport())
        return false;
    std::vector<std::uint8_t> commandBuffer = makeReportBuffer(CommandBufferSize, *length);
    buildBootloaderEntryReport(commandBuffer);
    s.LastResult = s.HidHandle.isOpen() &&
                   ctx_.api.setFeature(s.HidHandle.raw(), commandBuffer.data(), *length);
    session.enter(Phase::WaitingForBootloader);
    return settleWait(
        WaitForDevice(ctx_, WaitForm::InitialPoll, WaitRules::inMode(BootModeProductId)),
        MessageNoBootloader);
}

bool FirmwareUpdater::unlockIfAsked() {
    UpdateSession& session = this->session();
    DeviceState& s = ctx_.state;
    session.enter(Phase::Unlocking);
    const auto length = reportLength(ReportKind::Status);
    if (!length || !session.mayReport())
        return false;
    if (s.FeatureReport.size() < *length)
        s.FeatureReport.resize(*length, 0);
    s.FeatureReport[0] = 0;
    s.LastResult = s.HidHandle.isOpen() &&
                   ctx_.api.getFeature(s.HidHandle.raw(), s.FeatureReport.data(), *length);
    statusUnread_ = !s.LastResult;
    if (!s.LastResult || !statusWantsUnlock(s.FeatureReport))
        return true;
    if (!reportLength(ReportKind::Unlock) || !session.mayReport())
        return false;
    std::vector<std::uint8_t> commandBuffer = makeReportBuffer(CommandBufferSize, *length);
    buildUnlockReport(commandBuffer);
    s.LastResult = ctx_.api.setFeature(s.HidHandle.raw(), commandBuffer.data(), *length);
    return true;
}

bool FirmwareUpdater::deviceAtHand() {
    if (ctx_.state.DeviceFound)
        return true;
    closeDeviceHandles(ctx_);
    // A device found only now is shown first: nothing goes to a unit the user has not seen.
    if (FindAndShowDevice(ctx_))
        return session().fail(MessageTarvexJustFound, FailureKind::Units);
    return session().fail(noTarvexMessage(ctx_.state), FailureKind::Units);
}

void FirmwareUpdater::upgrade() {
    UpdateSession& session = begin("upgrade");
    WindowSeam& w = ctx_.window;
    session.run([&] {
        if (!deviceAtHand())
            return;
        session.start();
        // Nothing is touched before the image is known to be sendable; the records read now
        // are the ones sent, whatever happens to the file meanwhile.
        const ImageCheck image = checkFirmwareImage(imagePath_);
        if (image.problem) {
            session.fail(*image.problem, FailureKind::Image);
            return;
        }
        const std::size_t bytes = image.records.size() * RecordSize;
        session.setImage({displayPath(imagePath_), bytes, sha256Hex(image.records.data(), bytes)},
                         static_cast<std::int64_t>(image.records.size()));
        w.setUpgradeEnabled(false);
        if (!session.pinUnit())
            return;
        if (ctx_.state.Attributes.ProductID == AppModeProductId) {
            w.setUpgradeCaption(CaptionSwitching);
            if (!EnterBootloader())
                return;
        }
        session.enter(Phase::WaitingForBootloader);
        if (!settleWait(WaitForDevice(ctx_, WaitForm::Plain, WaitRules::inMode(BootModeProductId)),
                        MessageNoBootloader))
            return;
        if (unlockIfAsked())
            SendFlashData(image.records);
    });
    end(true);
}

void FirmwareUpdater::forceBootloader() {
    UpdateSession& session = begin("bootloader");
    session.run([&] {
        if (!deviceAtHand())
            return;
        session.start();
        session.pinUnit() && EnterBootloader();
    });
    end(false);
}

void FirmwareUpdater::end(bool upgrade) {
    UpdateSession& session = *session_;
    DeviceState& s = ctx_.state;
    WindowSeam& w = ctx_.window;
    // Refused before its first report: the user sees what is connected now, and may act on it.
    const bool refused = session.started() && !session.anythingSent() &&
                         session.failureKind() != FailureKind::None &&
                         session.failureKind() != FailureKind::Image;
    session.run([&] {
        s.Unit.reset();
        if (refused) {
            closeDeviceHandles(ctx_);
            FindAndShowDevice(ctx_);
        }
    });
    s.Unit.reset();
    const std::string told = session.message();
    session.finish();
    if (!w.closeRequested() && !session.stopped() && !told.empty())
        w.tellUser(told);
    if (!upgrade)
        return;
    // Once anything was sent the window's work is done; a user who closed it sees it go.
    if (session.anythingSent() || w.closeRequested()) {
        closeDeviceHandles(ctx_);
        w.unload();
    } else {
        w.setUpgradeEnabled(true);
    }
}

} // namespace quorvane
