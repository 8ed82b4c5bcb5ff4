// What assistive technology hears of a control whose own class cannot say it: a field announced
// by its row's name with the text it shows, and the progress bar with its value in per cent.
// The system's standard description of the control answers everything else.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <string>

namespace quorvane {

// Makes `control` describe itself with `name` and `role` (ROLE_SYSTEM_*). Its value is its own
// window text or, when `percentInUserData`, the whole percentage held in its GWLP_USERDATA.
// Holds for the control's lifetime.
void describeControl(HWND control, std::wstring name, long role, bool percentInUserData);

// What the control answers WM_GETOBJECT with, for the control itself (OBJID_CLIENT); the caller
// releases it. nullptr for a control not described as above.
IAccessible* describedAccessible(HWND control);

// The value assistive technology reads from a control described as above.
std::wstring describedValue(HWND control, bool percentInUserData);

} // namespace quorvane
