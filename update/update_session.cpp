#include "update_session.h"

#include "captions.h"
#include "device_info.h"
#include "discovery.h"
#include "discovery_messages.h"
#include "tarvex_identity.h"
#include "text_encoding.h"

#include <utility>

namespace quorvane {

namespace {

// The device as the window shows it; nothing when no device was found.
std::optional<DeviceSnapshot> snapshotOf(const DeviceState& s) {
    if (!s.DeviceFound)
        return std::nullopt;
    const HidAttributes& a = s.Attributes;
    return DeviceSnapshot{modeName(a.ProductID),
                          a.VendorID,
                          a.ProductID,
                          utf8Text(versionText(a.VersionNumber)),
                          utf8Text(s.Manufacturer),
                          utf8Text(s.Product),
                          utf8Text(s.SerialNumber),
                          s.DevicePath};
}

} // namespace

UpdateSession::UpdateSession(DeviceContext ctx, const CommandServices& services,
                             std::string command)
    : ctx_(ctx), services_(services) {
    record_.program = services.program;
    record_.command = std::move(command);
    ctx_.state.OtherUnits.clear();
}

void UpdateSession::start() {
    started_ = true;
    record_.started = utcNow();
    record_.deviceBefore = snapshotOf(ctx_.state);
    sleep_.emplace(services_.inhibitor);
}

bool UpdateSession::pinUnit() {
    DeviceState& s = ctx_.state;
    const bool listed = CountTarvexUnits(ctx_);
    if (s.TarvexUnits.size() > 1)
        return fail(severalUnitsMessage(s.TarvexUnits), FailureKind::Units);
    if (!listed || !s.DeviceFound)
        return fail(MessageShownUnitLeft, FailureKind::Units);
    if (!s.Unit) // a unit chosen before (--serial, --path) stays chosen
        s.Unit = identityOfShownUnit(s);
    return true;
}

bool UpdateSession::mayReport() {
    WindowSeam& w = ctx_.window;
    if (!stopped_ && w.closeRequested())
        stopped_ = phase_ != Phase::Sending || w.confirmStop(QuestionStopTransfer);
    if (stopped_)
        return false;
    sent_ = true;
    return true;
}

void UpdateSession::setImage(ImageSummary image, std::int64_t records) {
    record_.image = std::move(image);
    record_.recordsTotal = records;
}

bool UpdateSession::fail(const std::string& message, FailureKind kind) {
    failure_ = message;
    failureKind_ = kind;
    return false;
}

void UpdateSession::failOnError(const std::string& why) {
    ctx_.window.setProgress(0, 0);
    closeDeviceHandles(ctx_);
    fail("The command stopped on an unexpected error: " + why);
}

Outcome UpdateSession::outcome() const {
    // Once every record was accepted, what follows cannot undo it: an interrupt while the
    // device restarts is still a completed update; a device that does not come back is told.
    if (stopped_)
        return transferComplete() ? Outcome::Completed : Outcome::Stopped;
    return failure_ ? Outcome::Failed : Outcome::Completed;
}

std::string UpdateSession::message() const {
    const std::string of = std::to_string(recordsSent()) + " of " + std::to_string(recordsTotal());
    const bool upgrade = record_.command == "upgrade";
    std::string told;
    if (stopped_) {
        if (!sent_)
            told = "Interrupted before anything was sent to the Tarvex.";
        else if (transferComplete())
            told = "Interrupted while the Tarvex restarts into its new firmware: all " +
                   std::to_string(recordsTotal()) + " records were accepted.";
        else if (phase_ == Phase::Unlocking || phase_ == Phase::Sending)
            told = "Interrupted after " + of +
                   " records; no further record was sent. The Tarvex is in its bootloader: run "
                   "the update again to finish it.";
        else if (upgrade)
            told = "Interrupted while the Tarvex switched to its bootloader; no firmware was "
                   "sent. Run the update again.";
        else
            told = "Interrupted while the Tarvex switched to its bootloader; it may be there now.";
    } else if (failure_) {
        told =
            transferComplete() && failureKind_ == FailureKind::NotBack
                ? "All " + std::to_string(recordsTotal()) + " records were accepted. " + *failure_
                : *failure_;
    }
    if (!ctx_.state.OtherUnits.empty())
        told += std::string(told.empty() ? "" : " ") +
                "Another Tarvex was connected meanwhile and was not touched (" +
                unitsText(ctx_.state.OtherUnits) + ").";
    return told;
}

const UpdateRecord& UpdateSession::finish() noexcept {
    try {
        record_.sleepHeldOff = sleep_ && sleep_->held();
        sleep_.reset();
        record_.ended = utcNow();
        record_.deviceAfter = snapshotOf(ctx_.state);
        record_.outcome = outcomeName(outcome());
        record_.message = message();
        for (const EnumeratedInterface& unit : ctx_.state.OtherUnits)
            record_.otherUnits.push_back(idsText(unit.VendorID, unit.ProductID));
        if (services_.lastRecord)
            *services_.lastRecord = record_;
        // A command that never took up a device leaves no line.
        if (started_ && services_.history && !services_.history->append(record_) &&
            !services_.history->warning().empty())
            ctx_.window.notify(services_.history->warning()); // the user may want the line
    } catch (...) { // NOLINT(bugprone-empty-catch): a history that cannot be written is no concern
    }
    return record_;
}

} // namespace quorvane
