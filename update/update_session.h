// One command from start to end: the unit it talks to, how far it has got, what it has sent,
// whether it was interrupted, and the outcome it records. Every front end runs its commands as
// sessions, so these are decided in one place.
#pragma once

#include "device_context.h"
#include "history_file.h"
#include "sleep_inhibitor.h"
#include "update_record.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

// Given to the commands by the program that runs them; each may be missing (tests, benchmark).
struct CommandServices {
    SleepInhibitor* inhibitor = nullptr;
    const HistoryFile* history = nullptr;
    std::string program = "window";     // as the history names it: "window", "cli", "demo"
    UpdateRecord* lastRecord = nullptr; // given a copy of each line (the command line prints it)
};

// Where a command is. Every report belongs to one of them.
enum class Phase {
    Starting,              // nothing sent yet; the image and the unit are checked
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
    Units,   // no Tarvex to send to, or more than one and none chosen; nothing was sent
    Image,   // the image cannot be sent; nothing was touched
    Device,  // the device refused, failed or left during the command
    NotBack, // the device did not come back, or not in the mode it should
};

class UpdateSession {
public:
    UpdateSession(DeviceContext ctx, const CommandServices& services, std::string command);
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;
    ~UpdateSession() = default;

    // The command takes up the device shown: notes it and the time, and holds sleep off until
    // finish(). A session that never started leaves no line in the history.
    void start();
    bool started() const { return started_; }

    // Runs a command's steps; an exception from any layer ends the command like any other
    // failure, with both handles closed.
    template <typename Steps> void run(Steps&& steps);

    // Before the first report: exactly one Tarvex unit is connected (or the one chosen), and it
    // is the one shown. From here on only that unit is opened for a command or sent a report.
    // False, with the failure, when not; the window then shows what is connected now.
    bool pinUnit();

    Phase phase() const { return phase_; }
    void enter(Phase phase) { phase_ = phase; }

    // Asked before every report: false once the user interrupted (closed the window, Ctrl-C);
    // during the transfer the window asks first. No report goes out after a false.
    bool mayReport();
    // A wait ended because the window was closed.
    void noteStopped() { stopped_ = true; }
    bool stopped() const { return stopped_; }
    // A report has gone out to the device.
    bool anythingSent() const { return sent_; }

    void setImage(ImageSummary image, std::int64_t records);
    void recordAccepted() { ++record_.recordsSent; }
    std::int64_t recordsSent() const { return record_.recordsSent; }
    std::int64_t recordsTotal() const { return record_.recordsTotal; }
    // Every record of the image was accepted: nothing that follows makes that a failure.
    bool transferComplete() const {
        return record_.recordsTotal > 0 && record_.recordsSent == record_.recordsTotal;
    }

    // Ends the command with `message`; always false, for `return fail(...)`.
    bool fail(const std::string& message, FailureKind kind = FailureKind::Device);
    const std::optional<std::string>& failure() const { return failure_; }
    FailureKind failureKind() const { return failure_ ? failureKind_ : FailureKind::None; }
    Outcome outcome() const;
    // What the outcome tells the user: the failure, or where an interrupt left the Tarvex, and
    // the other units that were connected and not touched; empty for a plain success.
    std::string message() const;

    // Gives sleep back and appends the history line. Never throws and never waits long: the
    // device's outcome is decided by now.
    const UpdateRecord& finish() noexcept;

private:
    void failOnError(const std::string& why);

    DeviceContext ctx_;
    const CommandServices& services_;
    UpdateRecord record_;
    std::optional<SleepHold> sleep_;
    Phase phase_ = Phase::Starting;
    bool started_ = false;
    bool sent_ = false;
    bool stopped_ = false;
    std::optional<std::string> failure_;
    FailureKind failureKind_ = FailureKind::None;
};

template <typename Steps> void UpdateSession::run(Steps&& steps) {
    try {
        steps();
    } catch (const std::exception& e) {
        failOnError(e.what());
    } catch (...) {
        failOnError("unknown error");
    }
}

} // namespace quorvane
