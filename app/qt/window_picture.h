// A picture of a window as the screen shows it, saved as PNG, with a JSON file beside it that
// places every named control on the picture. The demo takes the README's screenshots with it;
// a test checks the pictures at two scales against each other through the JSON.
#pragma once

#include <QString>

class QWidget;

namespace quorvane {

// Waits (at most `timeoutMs`) until the window is on screen and painted.
bool waitUntilExposed(QWidget& window, int timeoutMs = 5000);

// Saves the window's pixels, as the window system holds them, to `pngPath`, and beside it, with
// the extension .json, the scale and, in the picture's pixels, each named control's rectangle
// and whether it is shown, with the window's colours. Returns an error message, empty on
// success.
QString saveWindowPicture(QWidget& window, const QString& pngPath);

} // namespace quorvane
