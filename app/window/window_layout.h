// The window's layout, shared by its two implementations (Qt on Linux, Win32 on Windows): every
// control with its place in twips, its caption, its accessible name, in reading order; the window's
// size, caption, font and the bar's colour.
#pragma once

#include "captions.h"
#include "window_seam.h"

#include <array>
#include <string_view>

namespace quorvane::layout {

// A rectangle in twips, relative to the client area of the control's parent.
struct TwipRect {
    int left;
    int top;
    int width;
    int height;
};

enum class Kind {
    Frame,    // the group box around the device's fields
    RowName,  // the static caption naming a row
    Field,    // a value the device reports
    Button,   // a command
    Bar,      // the progress bar, whose width the transfer sets
    BarFrame, // the sunken frame behind the bar: drawn by the window, not a control of its own,
              // so assistive technology does not announce it
};

struct Control {
    const char* name;
    Kind kind;
    // True when the control lies inside Frame1; its rectangle is then relative to Frame1's.
    bool inFrame;
    TwipRect rect;
    // A caption or a button's text; empty for the fields and the bar.
    const char* caption;
    // What assistive technology announces: a field's row name (its caption, the control before
    // it), the frame's and the bar's role.
    const char* accessibleName;
};

inline constexpr double TwipsPerInch = 1440.0;
inline constexpr int ClientWidth = 5415;
inline constexpr int ClientHeight = 3675;
inline constexpr const char* WindowCaption = "Firmware Update";
inline constexpr const char* FontFamily = "MS Sans Serif";
inline constexpr double FontPoints = 9.75;
inline constexpr int BarRed = 128;
inline constexpr int BarGreen = 128;
inline constexpr int BarBlue = 255;

// In the order of creation, which is the order assistive technology reads them in and the order
// the focus moves in: each row's name just before its field, rows from the top, so a screen
// reader hears every caption beside its value; then the buttons and the bar.
inline constexpr std::array<Control, 13> Controls{{
    {"Frame1", Kind::Frame, false, {120, 0, 5175, 1695}, "", "Device"},
    {"Label4", Kind::RowName, true, {120, 240, 1215, 285}, "Manufacturer", ""},
    {"lblManuf", Kind::Field, true, {1560, 240, 3540, 330}, "", "Manufacturer"},
    {"Label5", Kind::RowName, true, {120, 600, 1215, 285}, "Product", ""},
    {"lblProduct", Kind::Field, true, {1560, 600, 3540, 330}, "", "Product"},
    {"Label2", Kind::RowName, true, {120, 960, 1455, 285}, "Version", ""},
    {"lblVersion", Kind::Field, true, {1560, 960, 3540, 330}, "", "Version"},
    {"Label3", Kind::RowName, true, {120, 1320, 1455, 285}, "Serial Number", ""},
    {"lblSerialNumber", Kind::Field, true, {1560, 1320, 3480, 330}, "", "Serial Number"},
    {"btnUpgradeFW", Kind::Button, false, {840, 2280, 3735, 495}, CaptionUpgrade, ""},
    {"Command2", Kind::Button, false, {840, 2940, 3735, 495}, CaptionForceBootloader, ""},
    {"Pic", Kind::Bar, false, {180, 1920, 5055, 75}, "", "Firmware update progress"},
    {"Picture1", Kind::BarFrame, false, {120, 1860, 5175, 195}, "", ""},
}};

// The control named `name`; an unknown name does not compile where it is a constant.
constexpr const Control& control(std::string_view name) {
    for (const Control& c : Controls)
        if (name == c.name)
            return c;
    throw "no such control";
}

// The value field that shows `label`.
constexpr const char* fieldName(InfoLabel label) {
    switch (label) {
    case InfoLabel::Manufacturer:
        return "lblManuf";
    case InfoLabel::Product:
        return "lblProduct";
    case InfoLabel::Version:
        return "lblVersion";
    case InfoLabel::SerialNumber:
        break;
    }
    return "lblSerialNumber";
}

// The control's rectangle relative to the window's client area.
constexpr TwipRect inWindow(const Control& c) {
    if (!c.inFrame)
        return c.rect;
    const TwipRect& frame = control("Frame1").rect;
    return {frame.left + c.rect.left, frame.top + c.rect.top, c.rect.width, c.rect.height};
}

} // namespace quorvane::layout
