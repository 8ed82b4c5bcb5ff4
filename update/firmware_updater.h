// The window's two commands, "Upgrade Firmware" and "Force Bootloader Mode", and the transfer
// they drive. Owned by the window (and the command line); works only through the two seams,
// each command as one update session whose steps are listed here.
#pragma once

#include "command_reports.h"
#include "device_context.h"
#include "discovery.h"
#include "tarvex_protocol.h"
#include "update_session.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// Which unit a command is for, when the front end does not show one first.
struct CommandTarget {
    // Looks for the Tarvex as the command starts instead of taking the one shown (the command
    // line, which shows nothing before).
    bool lookFirst = false;
    // The unit with this serial number, or at this path (--serial, --path); empty: the one.
    std::string serial = {}, path = {};
};

class FirmwareUpdater {
public:
    FirmwareUpdater(DeviceContext ctx, std::filesystem::path imagePath,
                    CommandServices services = {});

    // The two commands, "Upgrade Firmware" and "Force Bootloader Mode". With no device shown,
    // each looks once more, shows what it finds and tells the user; nothing is sent. The window
    // runs one at a time. An upgrade that sent anything ends by unloading the window; one refused
    // before its first report leaves it open, showing what is connected now.
    void upgrade(const CommandTarget& target = {});
    void forceBootloader(const CommandTarget& target = {});

    // Sends `records` (the image as checked) to the bootloader and waits for the device; true
    // when the device came back running its application firmware. On false, failure() says why
    // (unless the user stopped it). Outside a command it runs as a session of its own.
    bool SendFlashData(const std::vector<Record>& records);
    // Sends the bootloader-entry report and waits for the device in its bootloader; false
    // (with failure()) when it could not be sent or the device stayed in its application.
    bool EnterBootloader();

    // The last command's session: its unit, phase, records and outcome.
    const UpdateSession* lastSession() const { return session_ ? &*session_ : nullptr; }
    std::optional<std::string> failure() const;
    FailureKind failureKind() const;
    const std::filesystem::path& imagePath() const { return imagePath_; }
    // The program ends while a command runs: its outcome recorded as a stop.
    void abandon() noexcept {
        if (session_)
            session_->abandon();
    }

private:
    UpdateSession& begin(const char* command);
    // The running session, or a new one for a step run on its own.
    UpdateSession& session();
    // Ends a command: records its outcome, tells the user, and leaves the window as it should.
    void end(bool upgrade);
    // Every report goes out here: the device's report length must carry `kind`, and the user
    // must not have asked to stop. `exchange` sends (or reads) it with that length; its result
    // (also in LastResult), or nothing when it did not go out.
    std::optional<CallResult> report(ReportKind kind,
                                     const std::function<CallResult(std::size_t)>& exchange);
    // The device's report length when it can carry `kind`; else fails the command.
    std::optional<std::size_t> reportLength(ReportKind kind);
    // The steps of a command and of the transfer.
    std::vector<Step> entrySteps();
    std::vector<Step> transferSteps(const std::vector<Record>& records);
    bool sendRecords(const std::vector<Record>& records);
    bool restartPolls();
    // Reads the status report and unlocks the bootloader when a status byte asks for it.
    bool unlockIfAsked();
    // True when the device to work on is shown (or found, with lookFirst); else shows what is
    // connected and fails with why nothing was sent.
    bool deviceAtHand(const CommandTarget& target);
    // The session's pin; a refusal shows what is connected now.
    bool pinUnit();

    DeviceContext ctx_;
    std::filesystem::path imagePath_;
    CommandServices services_;
    std::optional<UpdateSession> session_;
    // The status report could not be read before the transfer; said if a record is refused.
    bool statusUnread_ = false;
};

} // namespace quorvane
