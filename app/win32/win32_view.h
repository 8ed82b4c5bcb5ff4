// The window drawn with the system's own controls on Windows (user32, gdi32, comctl32): the
// controls of the layout table at the monitor's DPI, the boxes, timers, and WM_DEVICECHANGE for
// interfaces arriving and leaving. What the window does is frmMain's; this only shows it and
// passes the user's actions on.
#pragma once

#include "window_view.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace quorvane {

class Win32View final : public WindowView {
public:
    // Creates the window, hidden, at the DPI of the monitor it starts on.
    Win32View();
    ~Win32View() override;

    HWND hwnd() const { return hwnd_; }
    // The control of the layout table named `name`; nullptr for any other name, and for the
    // bar's frame, which the window draws. "status" is the control that announces results.
    HWND control(std::string_view name) const;
    // The DPI the window is laid out at: its monitor's.
    unsigned dpi() const { return dpi_; }
    // Twips of the layout in pixels at the window's DPI.
    int pixels(double twips) const;

    // WindowView
    void attach(WindowEvents* events) override { events_ = events; }
    void show() override;
    void setFieldText(InfoLabel field, const std::u16string& text) override;
    void setUpgradeCaption(const std::string& caption) override;
    void setCommandsEnabled(bool upgrade, bool bootloader) override;
    void announce(const std::string& text) override;
    void setBarVisible(bool visible) override;
    void setBarWidth(float twips, double percent) override;
    void repaintBar() override;
    void processEvents() override;
    void showMessage(const std::string& message) override;
    void showNotice(const std::string& message) override;
    bool askStop(const std::string& question) override;
    void later(int ms, std::function<void()> action) override;
    void watchInterfaces(int descriptor) override;
    void closeWindow() override;
    void requestClose() override;
    void pressUpgrade() override;
    int run() override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    // Places the window and every control at dpi_, with fonts of that size.
    void layOut();
    LRESULT controlColour(HDC dc, HWND control);
    void paint();

    WindowEvents* events_ = nullptr;
    HWND hwnd_ = nullptr;
    std::map<std::string, HWND, std::less<>> controls_;
    unsigned dpi_ = USER_DEFAULT_SCREEN_DPI;
    HFONT font_ = nullptr;
    HBRUSH barBrush_ = nullptr;
    // Width of Pic in twips as last set; its pixel width is this at the window's DPI.
    float barTwips_ = 0.0F;
    std::map<UINT_PTR, std::function<void()>> pending_;
    UINT_PTR nextTimer_ = 1;
    HDEVNOTIFY deviceNotification_ = nullptr;
    // run() waits for the window to go.
    bool quitWhenGone_ = false;
    // The button that had the focus when it was disabled; it has it back once enabled.
    HWND focusToReturn_ = nullptr;
};

} // namespace quorvane
