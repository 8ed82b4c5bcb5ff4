// A notice on Windows: a small box owned by the window, with the system's message font and an
// OK button, that holds nothing up. MessageBoxW cannot do that: it waits, and on a thread of its
// own it has no owner window.
#pragma once

#include <windows.h>

#include <string>

namespace quorvane {

// Shows `text` under `title` in a box centred on `owner`, at the owner's DPI; it closes itself
// with its OK button, Enter, Esc or its close box, and goes with its owner. The window's message
// loop must pass dialog keys to the box's root window (IsDialogMessageW).
void showNoticeBox(HWND owner, const std::wstring& title, const std::wstring& text);

} // namespace quorvane
