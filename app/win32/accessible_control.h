// What assistive technology hears of a control whose own class cannot say it: a field announced
// by its row's name as read-only text with the text it shows (without the space before it), the
// progress bar with its value in per cent, and the status object that announces a command's
// result. The system's standard description of the control answers everything else.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <string>

namespace quorvane {

// Where a described control's value comes from.
enum class ValueFrom {
    FieldText,         // its window text, without the space the window shows before it
    PercentInUserData, // the whole percentage held in its GWLP_USERDATA, with "%"
    Nothing,           // the system's value of the control, where it has one
};

// Makes `control` describe itself with `name` (its window text when empty) and `role`
// (ROLE_SYSTEM_*), read-only text when the role is text. Where the system has no description
// of the control's class (Wine), its state comes from the window, and a button's default action
// presses it. Holds for the control's lifetime.
void describeControl(HWND control, std::wstring name, long role, ValueFrom value);

// What the control answers WM_GETOBJECT with, for the control itself (OBJID_CLIENT); the caller
// releases it. nullptr for a control not described as above.
IAccessible* describedAccessible(HWND control);

// The value assistive technology reads from a control described as above.
std::wstring describedValue(HWND control, ValueFrom value);

// Says `text` through the status control `control` (described with ValueFrom::Nothing): its name
// becomes `text`, and assistive technology is told as a live region (UI Automation's, which
// Narrator reads) and as an alert (which MSAA screen readers read).
void announceThrough(HWND control, const std::wstring& text);

} // namespace quorvane
