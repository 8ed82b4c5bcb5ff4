// The window drawn with Qt widgets (Linux): the controls of the layout table, the message
// boxes, timers and the socket that tells of interfaces arriving and leaving. What the window
// does is frmMain's; this only shows it and passes the user's actions on.
#pragma once

#include "window_view.h"

#include <QWidget>

#include <array>

namespace quorvane {

class CommandButton;
class FieldLabel;
class ProgressStrip;
class StatusNote;

// Layout units: the window is laid out in twips, 15 of them to a pixel at 96 dots per inch.
// Qt's own high-DPI scaling maps those pixels to the screen.
inline constexpr double TwipsPerPixel = 15.0;
int twipsToPixels(double twips);

class QtView : public QWidget, public WindowView {
    Q_OBJECT

public:
    explicit QtView(QWidget* parent = nullptr);

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
    void requestClose() override { close(); }
    void pressUpgrade() override;
    int run() override;

    // The system asks the program to end: the behaviour is told, and a box waiting for the user
    // is dismissed, so that nothing holds the end up.
    void endRequested();
    // The window system went away: the behaviour is told, before Qt ends the program.
    void windowSystemLost() {
        if (events_ != nullptr)
            events_->windowSystemLost();
    }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Draws the bar's sunken frame, which is no control of its own.
    void paintEvent(QPaintEvent* event) override;
    // While a button is being disabled, the focus stays on it instead of moving on.
    bool focusNextPrevChild(bool next) override;

private:
    void buildControls();

    WindowEvents* events_ = nullptr;
    std::array<FieldLabel*, 4> fields_{}; // in InfoLabel's order
    CommandButton* btnUpgradeFW = nullptr;
    CommandButton* Command2 = nullptr;
    ProgressStrip* Pic = nullptr;
    StatusNote* status_ = nullptr;
    bool gone_ = false;
    bool keepFocus_ = false;
};

} // namespace quorvane
