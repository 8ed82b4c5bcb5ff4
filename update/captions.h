// Texts the commands put on the window.
#pragma once

namespace quorvane {

inline constexpr const char* CaptionUpgrade = "Upgrade Firmware";
inline constexpr const char* CaptionForceBootloader = "Force Bootloader Mode";
inline constexpr const char* CaptionSwitching = "Switching to bootloader...";
inline constexpr const char* CaptionUpdating = "Updating firmware...";
inline constexpr const char* CaptionFinishing = "Finishing...";

inline constexpr const char* MessageNoBootloader = "The device did not switch to its bootloader.";

} // namespace quorvane
