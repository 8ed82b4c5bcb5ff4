// The program's one window on Windows, drawn with the system's own controls (user32, gdi32,
// comctl32): the device information, the two commands and the progress bar, laid out from the
// table the Qt window shares. It owns the device state and the commands, and is the window seam
// they work through.
#pragma once

#include "device_context.h"
#include "device_follower.h"
#include "device_state.h"
#include "firmware_updater.h"
#include "window_seam.h"

#include <windows.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace quorvane {

class frmMain final : public WindowSeam {
public:
    // A line describing one change the commands made to the window.
    using TraceHook = std::function<void(const std::string&)>;
    // Shows a message to the user: `modal`, a warning box the user must acknowledge; otherwise
    // a box that stays on the screen while the command goes on.
    using Notifier = std::function<void(const std::string& message, bool modal)>;
    // Asks the user a question; true for the first answer ("Stop"), false for "Continue".
    using Asker = std::function<bool(const std::string& question)>;

    // Creates the window, hidden, at the DPI of the monitor it starts on.
    frmMain(HidPlatform& api, std::filesystem::path imagePath, CommandServices services = {});
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // Life cycle.
    void Form_Load();
    void Form_Unload();
    void Form_Terminate();

    // The click handlers of the two buttons. A click while a command runs is ignored.
    void btnUpgradeFW_Click();
    void Command2_Click();

    DeviceState& state() { return state_; }
    FirmwareUpdater& updater() { return updater_; }

    void setTraceHook(TraceHook hook) { trace_ = std::move(hook); }
    void setNotifier(Notifier notifier);
    void setAsker(Asker asker);

    // True once Form_Unload has run; the window is then closed for good.
    bool unloaded() const { return unloaded_; }
    bool commandRunning() const { return running_; }
    // What a value field shows, as UTF-8.
    std::string label(InfoLabel label) const;

    HWND hwnd() const { return hwnd_; }
    // The control of the layout table named `name`; nullptr for any other name.
    HWND control(std::string_view name) const;
    // The DPI the window is laid out at: its monitor's.
    unsigned dpi() const { return dpi_; }
    // Twips of the layout in pixels at the window's DPI.
    int pixels(double twips) const;

    // Asks the window to close, as its close box does.
    void close();
    // Runs `action` from the message loop once `delayMs` have passed (0: as soon as it runs).
    void later(unsigned delayMs, std::function<void()> action);
    // The message loop, until the window is gone; returns the program's exit status.
    int run();

    // WindowSeam
    void setLabel(InfoLabel label, const std::u16string& text) override;
    void setUpgradeCaption(const std::string& caption) override;
    void setUpgradeEnabled(bool enabled) override;
    void setProgressVisible(bool visible) override;
    void setProgress(float twips, double percent) override;
    void repaintProgress() override;
    void processEvents() override;
    bool closeRequested() const override { return closeRequested_; }
    bool confirmStop(const std::string& question) override;
    void tellUser(const std::string& message) override;
    void notify(const std::string& message) override;
    void unload() override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void createControls();
    // Places the window and every control at dpi_, with fonts of that size.
    void layOut();
    LRESULT controlColour(HDC dc, HWND control);
    void onClose();
    // Follows interfaces arriving and leaving while no command runs: WM_DEVICECHANGE for the
    // HID interface class, and the platform's own news (the virtual Tarvex's) every 250 ms. A
    // burst of changes gives one discovery, about a third of a second after the last.
    void watchInterfaces();
    void pollChanges();
    void interfacesChanged();
    void rediscover();
    template <typename Handler> void runCommand(Handler&& handler);
    void finishPendingClose();
    void trace(const std::string& line) const;

    DeviceState state_;
    DeviceContext ctx_;
    FirmwareUpdater updater_;

    HWND hwnd_ = nullptr;
    std::map<std::string, HWND, std::less<>> controls_;
    unsigned dpi_ = USER_DEFAULT_SCREEN_DPI;
    HFONT font_ = nullptr;
    HBRUSH barBrush_ = nullptr;
    // Width of Pic in twips as last set; its pixel width is this at the window's DPI.
    float picWidthTwips_ = 0.0F;
    double percent_ = 0.0;
    std::map<UINT_PTR, std::function<void()>> pending_;
    UINT_PTR nextTimer_ = 1;
    HDEVNOTIFY deviceNotification_ = nullptr;
    unsigned changes_ = 0; // the burst's last change is the one whose discovery runs
    DeviceFollower follower_;

    TraceHook trace_;
    Notifier notifier_;
    Asker asker_;
    bool running_ = false;
    bool closeRequested_ = false;
    bool unloaded_ = false;
    // run() waits for the window to go.
    bool quitWhenGone_ = false;
};

} // namespace quorvane
