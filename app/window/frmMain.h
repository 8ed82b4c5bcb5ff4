// The program's one window, as behaviour without a toolkit: it loads, runs the two commands one
// at a time, closes when asked (after the command that runs), follows the device while idle and
// tells the user things in boxes. It owns the device state and the commands, is the window seam
// they work through, and draws through a WindowView (Qt's, Win32's, or a test's recorder).
#pragma once

#include "device_context.h"
#include "device_follower.h"
#include "device_state.h"
#include "firmware_updater.h"
#include "window_seam.h"
#include "window_view.h"

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace quorvane {

// A burst of interface changes gives one discovery, this long after its last change.
inline constexpr int SettleMs = 300;
// A Tarvex this account may not open yet (udev may not have applied its rule) is tried once
// more after this long, before the user is told how to get access.
inline constexpr int DeniedRetryMs = 1000;
// Where the platform has no descriptor to watch, it is asked for news this often.
inline constexpr int ChangePollMs = 250;
// After an upgrade that succeeded the window stays this long, disabled, once its success was
// announced, so that a screen reader can still read the announcement from the window.
inline constexpr int AnnouncedCloseMs = 2000;

// What assistive technology is told when a command succeeds.
inline constexpr const char* AnnounceUpgradeDone =
    "Firmware update complete: the Tarvex runs its new firmware. The window closes.";
inline constexpr const char* AnnounceInBootloader = "The Tarvex is in its bootloader mode.";

class frmMain final : public WindowSeam, public WindowEvents {
public:
    // A line describing one change made to the window.
    using TraceHook = std::function<void(const std::string&)>;

    // The services' lastRecord is the window's own.
    frmMain(WindowView& view, HidPlatform& api, std::filesystem::path imagePath,
            CommandServices services = {});
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // Life cycle.
    void Form_Load();
    void Form_Unload();
    void Form_Terminate();

    // WindowEvents. A click while the window loads or a command runs is ignored.
    void btnUpgradeFW_Click() override;
    void Command2_Click() override;
    bool closeAsked() override;
    void endAsked() override;
    void windowSystemLost() override;
    void interfacesChanged() override;
    void changeNewsReady() override;

    DeviceState& state() { return state_; }
    FirmwareUpdater& updater() { return updater_; }
    void setTraceHook(TraceHook hook) { trace_ = std::move(hook); }

    // True once Form_Unload has run; the window is then closed for good.
    bool unloaded() const { return unloaded_; }
    // True while the window loads or a command runs.
    bool commandRunning() const { return running_; }
    // Whether the view was last told that each command button may be pressed.
    bool upgradeUsable() const { return shownUsable_.first; }
    bool bootloaderUsable() const { return shownUsable_.second; }
    // What a value field shows, as UTF-8.
    std::string label(InfoLabel label) const;

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
    // Runs the load or a command, alone; an error from it is told like any failure.
    template <typename Handler> void runCommand(Handler&& handler);
    // Runs a command the user pressed: both buttons disabled meanwhile; its success announced.
    template <typename Handler> void runUserCommand(Handler&& handler);
    // Tells the view which buttons may be pressed now, when that changed.
    void showUsable();
    // After Force Bootloader Mode: the mode and the fields that changed since `before`.
    void announceBootloader(const std::array<std::u16string, 4>& before);
    void announce(const std::string& text);
    // A command or a box held the window and has let go: a close asked for meanwhile is carried
    // out, else changes that arrived meanwhile are discovered.
    void letGo();
    bool held() const { return running_ || boxesOpen_ > 0; }
    void pollChanges();
    // The discovery of changes, `ms` from now unless another change comes first.
    void discoverIn(int ms);
    void discover();
    void later(int ms, std::function<void()> action);
    void trace(const std::string& line) const;

    WindowView& view_;
    DeviceState state_;
    DeviceContext ctx_;
    // The line the running command recorded; `ended` empty while it has not.
    UpdateRecord finished_;
    FirmwareUpdater updater_;
    DeviceFollower follower_;
    // Arrivals and departures from the load on.
    std::unique_ptr<InterfaceWatch> watch_;
    TraceHook trace_;

    // What the window shows, as last set.
    std::array<std::u16string, 4> fields_;
    std::string caption_;
    bool upgradeEnabled_ = true;
    // A command the user pressed is running; the view's buttons as last set.
    bool userCommand_ = false;
    std::pair<bool, bool> shownUsable_{true, true};
    // The window closes AnnouncedCloseMs after it unloads, once its success was announced.
    bool closeAfterAnnouncement_ = false;
    bool barVisible_ = true;
    float barTwips_;

    // The window's one record of what runs: the load or a command; boxes waiting for the user;
    // the user asked to close meanwhile; Form_Unload has run.
    bool running_ = false;
    int boxesOpen_ = 0;
    bool closeRequested_ = false;
    bool ending_ = false; // the close came from the system: nobody is asked, nothing waits
    bool lost_ = false;   // the window system has gone: nothing more is shown
    bool unloaded_ = false;
    // Changes whose discovery came while the window was held, to be discovered when it lets go.
    bool changesMissed_ = false;
    unsigned changes_ = 0; // the latest change; only its discovery runs
    // Actions waiting in the view's event loop run only while this window lives.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace quorvane
