// A picture of the window's client area as the screen shows it, saved as a 24-bit BMP file. The
// demo takes the README's Windows screenshots with it.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace quorvane {

// Returns an error message, empty on success.
std::string saveWindowPicture(HWND window, const std::filesystem::path& bmpPath);

} // namespace quorvane
