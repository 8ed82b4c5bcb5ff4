// One command from start to end: its steps in order, the unit it talks to, how far it has got,
// what it has sent, whether it was interrupted, and the outcome it records. Every front end runs
// its commands as sessions, so these are decided here and nowhere else.
#pragma once

#include "device_context.h"
#include "discovery.h"
#include "history_file.h"
#include "sleep_inhibitor.h"
#include "unit_identity.h"
#include "unit_locks.h"
#include "update_record.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// Given to the commands by the program that runs them; each may be missing (tests, benchmark).
struct CommandServices {
    SleepInhibitor* inhibitor = nullptr;
    const HistoryFile* history = nullptr;
    std::string program = "window";     // as the history names it: "window", "cli", "demo"
    UpdateRecord* lastRecord = nullptr; // given a copy of each line (the command line prints it)
    // One session per unit across programs; nothing: not shared (tests, benchmark).
    const UnitLocks* locks = nullptr;
    WaitPolicy waits = {};
    // How the user starts an update afresh with this front end, in a sentence's middle.
    std::string restartWords = "start quorvane and press Upgrade Firmware";
    // Added to the several-units refusal where the front end can choose one of them, and they
    // can be told apart.
    std::string chooseWords = {};
};

// Where a command is. Every report belongs to one of them.
enum class Phase {
    Starting,              // nothing sent yet; the unit and the image are checked
    EnteringBootloader,    // the bootloader-entry report
    WaitingForBootloader,  // the device restarts into its bootloader
    Unlocking,             // the status report and, when asked for, the unlock report
    Sending,               // the records
    Finishing,             // all records accepted; the device restarts
    WaitingForApplication, // waiting for it in its new firmware
};

// What kind of failure ended a command, for programs that tell them apart (the command line's
// exit codes).
enum class FailureKind {
    None,
    Units,   // no Tarvex to send to, several, or one another program is updating; nothing sent
    Image,   // the image cannot be sent; nothing was touched
    Device,  // the device refused or failed during the command
    Left,    // the device left the bus during the transfer
    NotBack, // the device did not come back, or not in the mode it should
};

// One step of a command: the phase it belongs to and what it does; false ends the command (its
// failure or interrupt noted in the session).
struct Step {
    Phase phase;
    std::function<bool()> run;
    std::function<bool()> when = {}; // empty: always; else the step is skipped on false
};

class UpdateSession {
public:
    UpdateSession(DeviceContext ctx, const CommandServices& services, std::string command);
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;
    ~UpdateSession() = default;

    // Runs the steps in order, each in its phase, until one returns false. An exception from any
    // layer ends the command like any other failure, with both handles closed.
    bool drive(const std::vector<Step>& steps);

    // The unit the command talks to, when chosen before it starts (--serial, --path).
    void choose(UnitIdentity unit) { target_ = std::move(unit); }
    const std::optional<UnitIdentity>& target() const { return target_; }
    // Before the first report: exactly one Tarvex unit is connected (or the one chosen), it is the
    // one shown, and no other program is updating it; its lock is held and sleep held off from
    // here to finish(). From here on only that unit is opened for a command or sent a report.
    // False, with the failure, when not.
    bool pinUnit();

    Phase phase() const { return phase_; }

    // Asked before every report: false once the user interrupted (closed the window, Ctrl-C);
    // during the transfer the window asks first. No report goes out after a false.
    bool mayReport();
    // The user asked to stop; nothing further is sent.
    bool stopIfAsked();
    bool stopped() const { return stopped_; }
    // A report has gone out to the device.
    bool anythingSent() const { return sent_; }

    // Waits for the unit (once pinned) as `rules` want it, with the front end's policy, and
    // makes the outcome the command's: true when found; a closed window stops the command, a
    // device that stayed in the other mode fails it with `wrongModeMessage`.
    bool waitFor(WaitForm form, const WaitRules& rules, const std::string& wrongModeMessage);
    // Tarvex units seen during the command that are not its unit: never sent a byte.
    void noteOtherUnits(const std::vector<EnumeratedInterface>& units);

    void setImage(ImageSummary image, std::int64_t records);
    void recordAccepted() { ++record_.recordsSent; }
    std::int64_t recordsSent() const { return record_.recordsSent; }
    std::int64_t recordsTotal() const { return record_.recordsTotal; }
    // Every record of the image was accepted: nothing that follows makes that a failure.
    bool transferComplete() const {
        return record_.recordsTotal > 0 && record_.recordsSent == record_.recordsTotal;
    }
    // Notes the device shown as the one the command starts from.
    void noteDeviceBefore();

    // Ends the command with `message`; always false, for `return fail(...)`.
    bool fail(const std::string& message, FailureKind kind = FailureKind::Device);
    const std::optional<std::string>& failure() const { return failure_; }
    FailureKind failureKind() const { return failure_ ? failureKind_ : FailureKind::None; }
    Outcome outcome() const;
    // What the outcome tells the user: the failure and where it left the Tarvex, or where an
    // interrupt left it, and the other units that were connected and not touched; empty for a
    // plain success.
    std::string message() const;

    // Gives sleep and the unit back and appends the history line. Never throws and never waits
    // long: the device's outcome is decided by now.
    const UpdateRecord& finish() noexcept;
    // The program ends inside the command (its window system went away): recorded as a stop.
    void abandon() noexcept {
        stopped_ = true;
        finish();
    }

private:
    void failOnError(const std::string& why);
    // Where the Tarvex was left when the command ended after a report, and what to do next.
    std::string whereLeft() const;

    DeviceContext ctx_;
    const CommandServices& services_;
    UpdateRecord record_;
    std::optional<SleepHold> sleep_;
    std::optional<UnitLockHold> lock_;
    std::optional<UnitIdentity> target_;
    std::vector<EnumeratedInterface> otherUnits_;
    Phase phase_ = Phase::Starting;
    bool sent_ = false;
    bool stopped_ = false;
    std::optional<std::string> failure_;
    FailureKind failureKind_ = FailureKind::None;
};

} // namespace quorvane
