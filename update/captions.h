// Texts the commands put on the window.
#pragma once

namespace quorvane {

inline constexpr const char* CaptionUpgrade = "Upgrade Firmware";
inline constexpr const char* CaptionForceBootloader = "Force Bootloader Mode";
inline constexpr const char* CaptionSwitching = "Switching to bootloader...";
inline constexpr const char* CaptionUpdating = "Updating firmware...";
inline constexpr const char* CaptionFinishing = "Finishing...";
// Shown in the two seconds the window stays after a successful upgrade.
inline constexpr const char* CaptionUpdateComplete = "Update complete";

inline constexpr const char* MessageNoBootloader = "The device did not switch to its bootloader.";
inline constexpr const char* MessageTarvexJustFound =
    "A Tarvex has just been found, so nothing was sent. Check what the window shows, then try "
    "again.";
inline constexpr const char* MessageShownUnitLeft =
    "The Tarvex shown is no longer connected, so nothing was sent.";

inline constexpr const char* MessageUnitBusy =
    "Another program is updating that Tarvex, so nothing was sent. Wait until it has finished.";

// Told once, without stopping, when the bootloader is still there long after the last record.
inline constexpr const char* StillFinishingMessage =
    "The Tarvex is still finishing its update. Do not unplug it: the program goes on waiting "
    "for it to restart into its new firmware.";

inline constexpr const char* QuestionStopTransfer =
    "The firmware update is in progress. Stop it now? The Tarvex stays in its bootloader and the "
    "update can be run again.";

} // namespace quorvane
