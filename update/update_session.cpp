#include "update_session.h"

#include "captions.h"
#include "device_info.h"
#include "discovery_messages.h"
#include "tarvex_identity.h"
#include "text_encoding.h"

#include <algorithm>
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
    record_.started = utcNow();
    noteDeviceBefore();
}

void UpdateSession::noteDeviceBefore() {
    record_.deviceBefore = snapshotOf(ctx_.state);
}

bool UpdateSession::drive(const std::vector<Step>& steps) {
    try {
        for (const Step& step : steps) {
            if (step.when && !step.when())
                continue;
            phase_ = step.phase;
            if (!step.run())
                return false;
        }
        return true;
    } catch (const std::exception& e) {
        failOnError(e.what());
    } catch (...) {
        failOnError("unknown error");
    }
    return false;
}

bool UpdateSession::pinUnit() {
    DeviceState& s = ctx_.state;
    const std::vector<EnumeratedInterface> listing = ctx_.api.enumerateInterfaces();
    const auto shown = std::find_if(listing.begin(), listing.end(),
                                    [&](const auto& l) { return l.Path == s.DevicePath; });
    if (!s.DeviceFound || shown == listing.end())
        return fail(MessageShownUnitLeft, FailureKind::Units);
    std::vector<EnumeratedInterface> units;
    for (const EnumeratedInterface& l : listing)
        if (isTarvexProduct(l.ProductID))
            noteUnit(units, l);
    if (!target_) { // a unit chosen before (--serial, --path) stays chosen
        if (units.size() > 1)
            return fail(severalUnitsMessage(units), FailureKind::Units);
        target_ = UnitIdentity{shown->UnitIsPlace ? shown->Unit : std::string(),
                               utf8Text(s.SerialNumber)};
    }
    if (services_.locks != nullptr) {
        LockAttempt lock = services_.locks->take(unitKey(*target_));
        if (lock.heldElsewhere)
            return fail(MessageUnitBusy, FailureKind::Units);
        if (!lock.hold)
            return fail("The Tarvex could not be reserved for this update (" + lock.problem +
                            "), so nothing was sent.",
                        FailureKind::Units);
        lock_ = std::move(lock.hold);
    }
    noteDeviceBefore();
    sleep_.emplace(services_.inhibitor); // from the first report on
    return true;
}

bool UpdateSession::stopIfAsked() {
    WindowSeam& w = ctx_.window;
    if (!stopped_ && w.closeRequested())
        stopped_ = phase_ != Phase::Sending || w.confirmStop(QuestionStopTransfer);
    return stopped_;
}

bool UpdateSession::mayReport() {
    if (stopIfAsked())
        return false;
    sent_ = true;
    return true;
}

void UpdateSession::noteOtherUnits(const std::vector<EnumeratedInterface>& units) {
    for (const EnumeratedInterface& unit : units)
        noteUnit(otherUnits_, unit);
}

bool UpdateSession::waitFor(WaitForm form, const WaitRules& rules,
                            const std::string& wrongModeMessage) {
    const UnitIdentity* target = target_ ? &*target_ : nullptr;
    const WaitResult r = WaitForDevice(ctx_, form, rules, services_.waits, target);
    noteOtherUnits(r.otherUnits);
    switch (r.outcome) {
    case WaitOutcome::Found:
        return true;
    case WaitOutcome::WindowClosed:
        stopped_ = true;
        return false;
    case WaitOutcome::SeveralUnits:
        return fail(target != nullptr ? ambiguousUnitsMessage(*target, r.found.tarvexUnits)
                                      : severalUnitsMessage(r.found.tarvexUnits),
                    FailureKind::Units);
    case WaitOutcome::StayedAway:
        return fail(r.found.accessDeniedPath.empty()
                        ? notBackMessage(services_.waits.absentLimitMs.value_or(0))
                        : deniedAccessAdvice(ThisSystem, r.found.accessDeniedPath, false),
                    FailureKind::NotBack);
    case WaitOutcome::StayedInWrongMode:
        break;
    }
    return fail(wrongModeMessage, FailureKind::NotBack);
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
    ctx_.state.closeHandles();
    fail("The command stopped on an unexpected error: " + why);
}

Outcome UpdateSession::outcome() const {
    // Once every record was accepted, what follows cannot undo it: an interrupt while the
    // device restarts is still a completed update; a device that does not come back is told.
    if (stopped_)
        return transferComplete() ? Outcome::Completed : Outcome::Stopped;
    return failure_ ? Outcome::Failed : Outcome::Completed;
}

std::string UpdateSession::whereLeft() const {
    const std::string again = " To update it, " + services_.restartWords + ".";
    if (transferComplete())
        return "";
    switch (phase_) {
    case Phase::Starting:
        return "";
    case Phase::EnteringBootloader:
    case Phase::WaitingForBootloader:
        return record_.command == "upgrade"
                   ? "No firmware was sent; the Tarvex may be in its bootloader now." + again
                   : "The Tarvex may be in its bootloader now.";
    case Phase::Unlocking:
    case Phase::Sending:
    case Phase::Finishing:
    case Phase::WaitingForApplication:
        break;
    }
    // A bootloader counts the records it was sent: only a restart makes it take an image
    // from the first record again.
    return "The Tarvex is in its bootloader with " + std::to_string(recordsSent()) + " of " +
           std::to_string(recordsTotal()) + " records: unplug it and plug it in again, then " +
           services_.restartWords + ".";
}

std::string UpdateSession::message() const {
    std::string told;
    auto add = [&told](const std::string& text) {
        if (!text.empty())
            told += (told.empty() ? "" : " ") + text;
    };
    if (stopped_) {
        if (!sent_)
            add("Interrupted before anything was sent to the Tarvex.");
        else if (transferComplete())
            add("Interrupted while the Tarvex restarts into its new firmware: all " +
                std::to_string(recordsTotal()) + " records were accepted.");
        else if (phase_ == Phase::Unlocking || phase_ == Phase::Sending)
            add("Interrupted after " + std::to_string(recordsSent()) + " of " +
                std::to_string(recordsTotal()) + " records; no further record was sent.");
        else
            add("Interrupted while the Tarvex switched to its bootloader.");
        if (sent_)
            add(whereLeft());
    } else if (failure_) {
        if (transferComplete() && failureKind_ == FailureKind::NotBack)
            add("All " + std::to_string(recordsTotal()) + " records were accepted.");
        add(*failure_);
        if (sent_ && failureKind_ != FailureKind::NotBack && failureKind_ != FailureKind::Left)
            add(whereLeft());
    }
    if (!otherUnits_.empty())
        add("Another Tarvex was connected meanwhile and was not touched (" +
            unitsText(otherUnits_) + ").");
    return told;
}

const UpdateRecord& UpdateSession::finish() noexcept {
    try {
        record_.sleepHeldOff = sleep_ && sleep_->held();
        sleep_.reset();
        lock_.reset();
        record_.ended = utcNow();
        record_.deviceAfter = snapshotOf(ctx_.state);
        record_.outcome = outcomeName(outcome());
        record_.message = message();
        for (const EnumeratedInterface& unit : otherUnits_)
            record_.otherUnits.push_back(idsText(unit.VendorID, unit.ProductID));
        if (services_.lastRecord)
            *services_.lastRecord = record_;
        if (services_.history && !services_.history->append(record_) &&
            !services_.history->warning().empty())
            ctx_.window.notify(services_.history->warning()); // the user may want the line
    } catch (...) { // NOLINT(bugprone-empty-catch): a history that cannot be written is no concern
    }
    return record_;
}

} // namespace quorvane
