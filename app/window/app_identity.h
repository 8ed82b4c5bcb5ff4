// Who the program is: its name, title, description and version.
#pragma once

namespace quorvane {

// The executable's name, and Qt's application name.
inline constexpr const char* ApplicationName = "quorvane";
// What the program is called for the user (message boxes, the desktop entry).
inline constexpr const char* ApplicationTitle = "Tarvex firmware";
inline constexpr const char* ApplicationDescription = "Tarvex firmware update";
// "1.01.0001": from the project's version, by the build.
inline constexpr const char* ApplicationVersion = QUORVANE_DISPLAY_VERSION;

} // namespace quorvane
