// Texts the commands put on the window.
#pragma once

namespace quorvane {

inline constexpr const char* CaptionUpgrade = "Upgrade Firmware";
inline constexpr const char* CaptionForceBootloader = "Force Bootloader Mode";
inline constexpr const char* CaptionSwitching = "Switching to bootloader...";
inline constexpr const char* CaptionUpdating = "Updating firmware...";
inline constexpr const char* CaptionFinishing = "Finishing...";

inline constexpr const char* MessageNoBootloader = "The device did not switch to its bootloader.";
inline constexpr const char* MessageNoTarvex = "No Tarvex is connected. Connect it and try again.";
inline constexpr const char* MessageShownUnitLeft =
    "The Tarvex shown is no longer connected, so nothing was sent.";

inline constexpr const char* QuestionStopTransfer =
    "The firmware update is in progress. Stop it now? The Tarvex stays in its bootloader and the "
    "update can be run again.";

} // namespace quorvane
