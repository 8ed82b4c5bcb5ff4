// quorvane-demo, whichever toolkit shows its window: the updater's window on the virtual Tarvex
// with the sample image built beside the executable (or the one file named on its command line), so
// a whole upgrade can be watched without hardware.
//
// With QUORVANE_DEMO_SELF_DRIVE=1 (or where the program decides so) it drives itself: it prints
// what a person would see (the fields, the upgrade button's caption, the progress; with
// QUORVANE_DEMO_TRACE=1 every change to the window's controls), presses "Upgrade Firmware"
// through the toolkit and reports how the upgrade ended (exit status 0 when the device came back
// in its application firmware with the whole image and nobody was told of a failure; a notice is
// no failure). Asked to end meanwhile (SIGTERM, SIGHUP, SIGINT) it stops as a closed window does.
//
// With QUORVANE_DEMO_SCREENSHOT=file it saves a picture of the window as the screen shows it,
// then ends; exit status 0 when it was written. A scene keeps no history. QUORVANE_DEMO_SCENE
// chooses what the picture shows: `found` (the default: the virtual Tarvex found), `upgrading` (an
// upgrade half done), `done` (the window as it stays after a success) or `nodevice`.
#pragma once

#include "virtual_platform.h"
#include "window_view.h"

#include <filesystem>
#include <functional>
#include <string>

namespace quorvane {

// Long enough for any upgrade of the sample image; a self-driving run that takes longer closes
// the window, which stops the command.
inline constexpr int SelfDriveLimitMs = 120000;

struct DemoWindow {
    WindowView& view;
    // Saves a picture of the window to `path`; an error message, empty on success.
    std::function<std::string(const std::string& path)> takePicture;
    // Added to the line that starts a self-driven run: where the window is shown.
    std::string shownIn;
    // With a person at the window, once it has loaded: what the toolkit adds beside it.
    std::function<void(VirtualPlatform&)> besideWindow;
    // The image to send: the one named on the command line, or the sample beside the program.
    std::filesystem::path image;
};

// Runs the demo in the window; returns the program's exit status.
int runDemo(DemoWindow window, bool selfDrive);

} // namespace quorvane
