// Who the program is: its name, title, description, version and icon.
#pragma once

class QIcon;

namespace quorvane {

// The executable's name, and Qt's application name.
inline constexpr const char* ApplicationName = "quorvane";
// What the program is called for the user (message boxes, the desktop entry).
inline constexpr const char* ApplicationTitle = "Tarvex firmware";
inline constexpr const char* ApplicationDescription = "Tarvex firmware update";
// "1.01.0001": from the project's version, by the build.
inline constexpr const char* ApplicationVersion = QUORVANE_DISPLAY_VERSION;

// The window icon, 32 x 32 and 16 x 16, compiled in from app/icons.
QIcon applicationIcon();

// Name, version and window icon of the running QApplication. No display name is set, since
// the platform would append it to every window caption.
void applyApplicationIdentity();

} // namespace quorvane
