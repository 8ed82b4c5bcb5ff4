// The window as a toolkit draws it, seen from the window's behaviour (frmMain): the controls of
// the layout table, the boxes, time, the news of interfaces arriving and leaving, and the
// window's life. The Qt view and the Win32 view implement it; tests implement it with a
// recorder. A view decides nothing: what it hears from the user or the system it passes on to
// WindowEvents.
#pragma once

#include "window_seam.h"

#include <functional>
#include <string>

namespace quorvane {

// What a view passes on to the behaviour.
class WindowEvents {
public:
    WindowEvents() = default;
    WindowEvents(const WindowEvents&) = delete;
    WindowEvents& operator=(const WindowEvents&) = delete;
    virtual ~WindowEvents() = default;

    virtual void btnUpgradeFW_Click() = 0;
    virtual void Command2_Click() = 0;
    // The user asked to close the window (its close box, Alt+F4). True when the window may go
    // now; false while something holds it, which closes it through closeWindow() once done.
    virtual bool closeAsked() = 0;
    // The system asks the program to end (a logout, a shutdown, a closed terminal): taken as a
    // close, with a transfer stopped without asking; the window goes through closeWindow().
    virtual void endAsked() = 0;
    // The window system went away, and the toolkit ends the program as soon as this returns,
    // from wherever it was: the running command's outcome is recorded now, as a stop.
    virtual void windowSystemLost() = 0;
    // The system says interfaces arrived or left.
    virtual void interfacesChanged() = 0;
    // The descriptor given to watchInterfaces() turned readable.
    virtual void changeNewsReady() = 0;
};

class WindowView {
public:
    WindowView() = default;
    WindowView(const WindowView&) = delete;
    WindowView& operator=(const WindowView&) = delete;
    virtual ~WindowView() = default;

    // Where the view sends what it hears; nullptr: nowhere (the behaviour is gone).
    virtual void attach(WindowEvents* events) = 0;

    // On the screen, painted, with the focus on the first button.
    virtual void show() = 0;
    // What a value field shows, exactly (the behaviour has put it one space off the edge;
    // assistive technology reads it without that space: spokenFieldText()).
    virtual void setFieldText(InfoLabel field, const std::u16string& text) = 0;
    virtual void setUpgradeCaption(const std::string& caption) = 0;
    // Whether each command button may be pressed. A button that is disabled while it has the
    // focus keeps the window's focus from jumping to another control; the focus returns to it
    // when it is enabled again, unless the user has moved it meanwhile.
    virtual void setCommandsEnabled(bool upgrade, bool bootloader) = 0;
    // Tells assistive technology `text`, a command's result, without moving the focus: a status
    // object of the window takes it as its name and says that it changed.
    virtual void announce(const std::string& text) = 0;
    virtual void setBarVisible(bool visible) = 0;
    // The bar's width in twips of the layout, and the share it stands for, in per cent.
    virtual void setBarWidth(float twips, double percent) = 0;
    virtual void repaintBar() = 0;
    virtual void processEvents() = 0;

    // A warning box owned by the window that the user must acknowledge: returns once they have.
    virtual void showMessage(const std::string& message) = 0;
    // A box owned by the window that waits for nobody: returns at once, stays until closed.
    virtual void showNotice(const std::string& message) = 0;
    // Asks, in a box owned by the window, whether to stop; true for "Stop", false for
    // "Continue".
    virtual bool askStop(const std::string& question) = 0;

    // Runs `action` once, from the event loop, after `ms` (0: as soon as the loop runs).
    virtual void later(int ms, std::function<void()> action) = 0;
    // Starts passing on the system's news of interfaces arriving and leaving, and the
    // descriptor's readiness when it is not -1.
    virtual void watchInterfaces(int descriptor) = 0;
    // The window goes for good.
    virtual void closeWindow() = 0;

    // For the programs and the demo: what the user does with the close box and the upgrade
    // button, through the toolkit's own path, and the event loop until the window has gone.
    virtual void requestClose() = 0;
    virtual void pressUpgrade() = 0;
    virtual int run() = 0;
};

} // namespace quorvane
