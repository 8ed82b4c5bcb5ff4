// "Upgrade Firmware" and "Force Bootloader Mode": their steps, and how a command ends.
#include "firmware_updater.h"

#include "captions.h"
#include "command_reports.h"
#include "device_info.h"
#include "discovery.h"
#include "discovery_messages.h"
#include "firmware_image.h"
#include "sha256.h"
#include "tarvex_identity.h"
#include "unit_choice.h"

#include <set>
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

namespace {

// Several units present can be told apart where each is plugged somewhere known, or where
// their serial numbers differ.
bool distinguishable(HidPlatform& api, const std::vector<EnumeratedInterface>& units) {
    if (std::all_of(units.begin(), units.end(), [](const auto& u) { return u.UnitIsPlace; }))
        return true;
    std::set<std::u16string> serials;
    std::set<std::string> seen;
    for (const TarvexListing& l : listTarvexUnits(api))
        if (seen.insert(l.unit).second &&
            (l.serialNumber.empty() || !serials.insert(l.serialNumber).second))
            return false;
    return true;
}

} // namespace

bool FirmwareUpdater::deviceAtHand(const CommandTarget& target) {
    UpdateSession& session = this->session();
    DeviceState& s = ctx_.state;
    if (!target.lookFirst) {
        if (s.DeviceFound)
            return true;
        // A device found only now is shown first: nothing goes to a unit the user has not seen.
        const Findings found = FindAndShowDevice(ctx_);
        return session.fail(s.DeviceFound ? MessageTarvexJustFound : noTarvexMessage(found),
                            FailureKind::Units);
    }
    if (!target.serial.empty() || !target.path.empty()) {
        const bool byPath = !target.path.empty();
        UnitChoiceResult chosen =
            chooseUnit(listTarvexUnits(ctx_.api), byPath, byPath ? target.path : target.serial);
        if (!chosen.choice)
            return session.fail(chosen.problem, FailureKind::Units);
        session.choose(std::move(*chosen.choice));
    }
    const Findings found = FindAndShowDevice(ctx_, session.target() ? &*session.target() : nullptr);
    session.noteOtherUnits(found.otherUnits);
    if (session.stopIfAsked())
        return false;
    if (!session.target() && found.tarvexUnits.size() > 1)
        return session.fail(severalUnitsMessage(found.tarvexUnits) +
                                (distinguishable(ctx_.api, found.tarvexUnits)
                                     ? services_.chooseWords
                                     : std::string()),
                            FailureKind::Units);
    if (found.ambiguous)
        return session.fail(ambiguousUnitsMessage(*session.target(), found.tarvexUnits),
                            FailureKind::Units);
    if (!s.DeviceFound)
        return session.fail(noTarvexMessage(found), FailureKind::Units);
    session.noteDeviceBefore();
    return true;
}

bool FirmwareUpdater::pinUnit() {
    if (session().pinUnit())
        return true;
    // Refused before its first report: the user sees what is connected now, and may act on it.
    FindAndShowDevice(ctx_);
    return false;
}

std::vector<Step> FirmwareUpdater::entrySteps() {
    UpdateSession& session = this->session();
    return {{Phase::EnteringBootloader,
             [this] {
                 std::vector<std::uint8_t> buffer;
                 return report(ReportKind::BootloaderEntry,
                               [&](std::size_t length) {
                                   buffer = makeReportBuffer(CommandBufferSize, length);
                                   buildBootloaderEntryReport(buffer);
                                   return ctx_.api.setFeature(ctx_.state.HidHandle.raw(),
                                                              buffer.data(), length);
                               })
                     .has_value();
             }},
            {Phase::WaitingForBootloader, [&session] {
                 return session.waitFor(WaitForm::InitialPoll, {BootModeProductId},
                                        MessageNoBootloader);
             }}};
}

bool FirmwareUpdater::EnterBootloader() {
    return session().drive(entrySteps());
}

bool FirmwareUpdater::unlockIfAsked() {
    DeviceState& s = ctx_.state;
    const auto status = report(ReportKind::Status, [&](std::size_t length) {
        if (s.FeatureReport.size() < length)
            s.FeatureReport.resize(length, 0);
        s.FeatureReport[0] = 0;
        return ctx_.api.getFeature(s.HidHandle.raw(), s.FeatureReport.data(), length);
    });
    if (!status)
        return false;
    statusUnread_ = !status->ok;
    if (!status->ok || !statusWantsUnlock(s.FeatureReport))
        return true;
    std::vector<std::uint8_t> buffer;
    return report(ReportKind::Unlock,
                  [&](std::size_t length) {
                      buffer = makeReportBuffer(CommandBufferSize, length);
                      buildUnlockReport(buffer);
                      return ctx_.api.setFeature(s.HidHandle.raw(), buffer.data(), length);
                  })
        .has_value();
}

void FirmwareUpdater::upgrade(const CommandTarget& target) {
    UpdateSession& session = begin("upgrade");
    WindowSeam& w = ctx_.window;
    ImageCheck image;
    bool inApplication = false;
    std::vector<Step> steps{{Phase::Starting, [&] {
                                 if (!deviceAtHand(target))
                                     return false;
                                 // Nothing is touched before the image is known to be sendable; the
                                 // records read now are the ones sent, whatever happens to the file
                                 // meanwhile.
                                 image = checkFirmwareImage(imagePath_);
                                 if (image.problem)
                                     return session.fail(*image.problem, FailureKind::Image);
                                 const std::size_t bytes = image.records.size() * RecordSize;
                                 session.setImage({displayPath(imagePath_), bytes,
                                                   sha256Hex(image.records.data(), bytes)},
                                                  static_cast<std::int64_t>(image.records.size()));
                                 w.setUpgradeEnabled(false);
                                 if (!pinUnit())
                                     return false;
                                 inApplication =
                                     ctx_.state.Attributes.ProductID == AppModeProductId;
                                 if (inApplication)
                                     w.setUpgradeCaption(CaptionSwitching);
                                 return true;
                             }}};
    for (Step& step : entrySteps()) {
        step.when = [&inApplication] { return inApplication; };
        steps.push_back(std::move(step));
    }
    steps.push_back({Phase::WaitingForBootloader, [&] {
                         return session.waitFor(WaitForm::Plain, {BootModeProductId},
                                                MessageNoBootloader);
                     }});
    steps.push_back({Phase::Unlocking, [this] { return unlockIfAsked(); }});
    for (Step& step : transferSteps(image.records))
        steps.push_back(std::move(step));
    session.drive(steps);
    end(true);
}

void FirmwareUpdater::forceBootloader(const CommandTarget& target) {
    UpdateSession& session = begin("bootloader");
    std::vector<Step> steps{{Phase::Starting, [&] { return deviceAtHand(target) && pinUnit(); }}};
    for (Step& step : entrySteps())
        steps.push_back(std::move(step));
    session.drive(steps);
    end(false);
}

void FirmwareUpdater::end(bool upgrade) {
    UpdateSession& session = *session_;
    WindowSeam& w = ctx_.window;
    const std::string told = session.message();
    session.finish();
    if (!w.closeRequested() && !session.stopped() && !told.empty())
        w.tellUser(told);
    if (!upgrade)
        return;
    // Once anything was sent the window's work is done; a user who closed it sees it go.
    if (session.anythingSent() || w.closeRequested()) {
        ctx_.state.closeHandles();
        w.unload();
    } else {
        w.setUpgradeEnabled(true);
    }
}

} // namespace quorvane
