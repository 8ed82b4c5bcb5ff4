// The narrow view that discovery and update have of the window. The window's behaviour
// (app/window) implements it over either toolkit, the command line over its console; tests
// implement it with a recorder.
#pragma once

#include <string>

namespace quorvane {

enum class InfoLabel { Manufacturer, Product, Version, SerialNumber };

class WindowSeam {
public:
    WindowSeam() = default;
    WindowSeam(const WindowSeam&) = delete;
    WindowSeam& operator=(const WindowSeam&) = delete;
    virtual ~WindowSeam() = default;

    // The value of one information field, as the device spelled it (UTF-16, the form both
    // windows show); empty clears the field.
    virtual void setLabel(InfoLabel label, const std::u16string& text) = 0;

    virtual void setUpgradeCaption(const std::string& caption) = 0;
    virtual void setUpgradeEnabled(bool enabled) = 0;

    // The progress bar: its width in twips of the window's layout, and the share of the image
    // that width stands for, in per cent, for assistive technology and logs.
    virtual void setProgressVisible(bool visible) = 0;
    virtual void setProgress(float twips, double percent) = 0;
    virtual void repaintProgress() = 0;

    // Runs pending window events. The user may close the window meanwhile: closeRequested()
    // then turns true and stays true, and every running command stops at once.
    virtual void processEvents() = 0;
    virtual bool closeRequested() const = 0;

    // The user asked to close the window during the transfer: asks whether to stop it. True to
    // stop; on false the request is withdrawn and closeRequested() is false again.
    virtual bool confirmStop(const std::string& question) = 0;

    // A short, plain sentence for the user, shown until they acknowledge it.
    virtual void tellUser(const std::string& message) = 0;
    // The same, shown without waiting: what runs goes on while it is on the screen.
    virtual void notify(const std::string& message) = 0;
    // Closes the window; the program ends once the running handler has returned.
    virtual void unload() = 0;
};

} // namespace quorvane
