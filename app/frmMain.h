// The program's one window: the device information, the two commands and the progress bar. It
// owns the device state and the commands, and is the window seam they work through.
#pragma once

#include "device_context.h"
#include "device_follower.h"
#include "device_state.h"
#include "firmware_updater.h"
#include "window_seam.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>

class QFrame;
class QGroupBox;
class QLabel;
class QTimer;

namespace quorvane {

class CommandButton;
class FieldLabel;
class ProgressStrip;

// Layout units: the window is laid out in twips, 15 of them to a pixel at 96 dots per inch.
// Qt's own high-DPI scaling maps those pixels to the screen.
inline constexpr double TwipsPerPixel = 15.0;
int twipsToPixels(double twips);

class frmMain : public QWidget, public WindowSeam {
    Q_OBJECT

public:
    // A line describing one change the commands made to the window.
    using TraceHook = std::function<void(const std::string&)>;
    // Shows a message to the user: `modal`, a warning box the user must acknowledge; otherwise
    // a box that stays on the screen while the command goes on.
    using Notifier = std::function<void(const std::string& message, bool modal)>;
    // Asks the user a question; true for the first answer ("Stop"), false for "Continue".
    using Asker = std::function<bool(const std::string& question)>;

    frmMain(HidPlatform& api, std::filesystem::path imagePath, CommandServices services = {},
            QWidget* parent = nullptr);
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
    const DeviceState& state() const { return state_; }
    FirmwareUpdater& updater() { return updater_; }
    DeviceContext& context() { return ctx_; }

    void setTraceHook(TraceHook hook) { trace_ = std::move(hook); }
    void setNotifier(Notifier notifier);
    void setAsker(Asker asker);

    // True once Form_Unload has run; the window is then closed for good.
    bool unloaded() const { return unloaded_; }
    // True while the window loads or a command runs.
    bool commandRunning() const { return running_; }
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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    // Follows interfaces arriving and leaving while no command runs: a burst of changes gives
    // one discovery, about a third of a second after the last.
    void watchInterfaces();
    void rediscover();
    FieldLabel* valueLabel(InfoLabel label) const;
    // Runs Form_Load's discovery or a command; a close asked for meanwhile is carried out once
    // it has returned.
    template <typename Handler> void runCommand(Handler&& handler);
    void finishPendingClose();
    void trace(const std::string& line) const;

    DeviceState state_;
    DeviceContext ctx_;
    FirmwareUpdater updater_;

    QGroupBox* Frame1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label2 = nullptr;
    FieldLabel* lblManuf = nullptr;
    FieldLabel* lblProduct = nullptr;
    FieldLabel* lblVersion = nullptr;
    FieldLabel* lblSerialNumber = nullptr;
    CommandButton* btnUpgradeFW = nullptr;
    CommandButton* Command2 = nullptr;
    ProgressStrip* Pic = nullptr;
    QFrame* Picture1 = nullptr;

    // Width of Pic in twips as last set; its pixel width is this rounded.
    float picWidthTwips_ = 0.0F;

    TraceHook trace_;
    Notifier notifier_;
    Asker asker_;
    // The window's one record of what runs: Form_Load's discovery or a command is running; the
    // user asked to close meanwhile (it closes once that has returned); Form_Unload has run.
    bool running_ = false;
    bool closeRequested_ = false;
    bool unloaded_ = false;

    QTimer* settle_ = nullptr; // the discovery after a burst of changes
    DeviceFollower follower_;
};

} // namespace quorvane
