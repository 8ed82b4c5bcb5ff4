// The window's two commands, "Upgrade Firmware" and "Force Bootloader Mode", and the transfer
// they drive. Owned by the window; works only through the two seams.
#pragma once

#include "command_reports.h"
#include "command_run.h"
#include "device_context.h"
#include "discovery.h"
#include "tarvex_protocol.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// What kind of failure ended a command, for programs that tell them apart (the command line's
// exit codes).
enum class FailureKind {
    None,
    Units,   // no Tarvex to send to, or more than one and none chosen; nothing was sent
    Image,   // the image cannot be sent; nothing was touched
    Device,  // the device refused, failed or left during the command
    NotBack, // the device did not come back, or not in the mode it should
};

class FirmwareUpdater {
public:
    FirmwareUpdater(DeviceContext ctx, std::filesystem::path imagePath,
                    CommandServices services = {});

    // The two commands, "Upgrade Firmware" and "Force Bootloader Mode". With no device found,
    // each looks once more and, finding none, tells the user. The window runs one at a time.
    void upgrade();
    void forceBootloader();

    // Sends `records` (the image as checked) to the bootloader and waits for the device; true
    // when the device came back running its application firmware. On false, failure() says why
    // (unless the window was closed).
    bool SendFlashData(const std::vector<Record>& records);
    // Sends the bootloader-entry report and waits for the device in its bootloader; false
    // (with failure()) when it could not be sent or the device stayed in its application.
    bool EnterBootloader();

    const std::optional<std::string>& failure() const { return failure_; }
    FailureKind failureKind() const { return failure_ ? failureKind_ : FailureKind::None; }
    const std::filesystem::path& imagePath() const { return imagePath_; }

private:
    bool fail(const std::string& message, FailureKind kind = FailureKind::Device);
    // The command's result after a wait for the device: true when it was found as required;
    // a closed window ends the command quietly, the other mode with `wrongModeMessage`.
    bool settleWait(WaitOutcome outcome, const std::string& wrongModeMessage);
    // Reads the status report and unlocks the bootloader when a status byte asks for it.
    bool unlockIfAsked();
    // The device's report length when it can carry `kind`; else fails the command.
    std::optional<std::size_t> reportLength(ReportKind kind);
    // True when a device was found, by now or by one more discovery; else tells the user why
    // there is none.
    bool deviceAtHand();
    // False, with the failure, when more than one Tarvex is present or the one shown has left.
    bool shownUnitAlone();
    // Runs a command's steps; an unexpected error (an exception from any layer) fails it like
    // any other failure, with both handles closed.
    template <typename Steps> void guarded(Steps&& steps);
    // Tells the user what went wrong, unless the window was closed.
    void report();

    DeviceContext ctx_;
    std::filesystem::path imagePath_;
    CommandServices services_;
    // Data reports the device took in the last transfer.
    std::int64_t recordsSent_ = 0;
    std::optional<std::string> failure_;
    FailureKind failureKind_ = FailureKind::None;
    // The status report could not be read before the transfer; said if a record is refused.
    bool statusUnread_ = false;
};

} // namespace quorvane
