#include "frmMain.h"

#include "captions.h"
#include "device_info.h"
#include "discovery.h"
#include "discovery_messages.h"
#include "window_layout.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <exception>
#include <utility>

namespace quorvane {

namespace {

const char* fieldName(InfoLabel label) {
    switch (label) {
    case InfoLabel::Manufacturer:
        return "lblManuf";
    case InfoLabel::Product:
        return "lblProduct";
    case InfoLabel::Version:
        return "lblVersion";
    case InfoLabel::SerialNumber:
        return "lblSerialNumber";
    }
    return "lblManuf";
}

} // namespace

frmMain::frmMain(WindowView& view, HidPlatform& api, std::filesystem::path imagePath,
                 CommandServices services)
    : view_(view), ctx_{api, *this, state_},
      updater_(ctx_, std::move(imagePath), std::move(services)), caption_(CaptionUpgrade),
      barTwips_(static_cast<float>(layout::control("Pic").rect.width)) {
    view_.attach(this);
}

frmMain::~frmMain() {
    *alive_ = false;
    view_.attach(nullptr);
    Form_Terminate();
}

void frmMain::Form_Load() {
    // Run as a command: a click meanwhile is ignored, a close waits for the load.
    runCommand([this] {
        view_.show();
        processEvents(); // the window reaches the screen before discovery holds up the thread
        state_.ProgressFullWidth = static_cast<std::int16_t>(std::lround(barTwips_));
        setProgressVisible(false);
        // Before the discovery, so that no change after it goes unseen.
        const int descriptor = ctx_.api.changeDescriptor();
        view_.watchInterfaces(descriptor);
        ctx_.api.interfacesChanged(); // what is there now is what the load finds
        if (descriptor < 0)
            later(ChangePollMs, [this] { pollChanges(); });
        if (!FindAndShowDevice(ctx_) && !state_.AccessDeniedPath.empty())
            tellUser(deniedAccessAdvice(ThisSystem, state_.AccessDeniedPath, false));
    });
}

void frmMain::Form_Unload() {
    closeDeviceHandles(ctx_);
    unloaded_ = true;
}

void frmMain::Form_Terminate() {
    closeDeviceHandles(ctx_);
}

void frmMain::btnUpgradeFW_Click() {
    runCommand([this] { updater_.upgrade(); });
}

void frmMain::Command2_Click() {
    runCommand([this] { updater_.forceBootloader(); });
}

template <typename Handler> void frmMain::runCommand(Handler&& handler) {
    // A click delivered while the load or a command processes window events is ignored, so one
    // command runs at a time.
    if (unloaded_ || running_)
        return;
    running_ = true;
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& e) {
        tellUser(std::string("The command stopped: ") + e.what());
    }
    running_ = false;
    letGo();
}

void frmMain::letGo() {
    if (held() || unloaded_)
        return;
    if (closeRequested_) {
        Form_Unload();
        view_.closeWindow();
        return;
    }
    if (std::exchange(changesMissed_, false))
        discover();
}

bool frmMain::closeAsked() {
    if (unloaded_)
        return true;
    if (held()) {
        // The running command sees closeRequested() at its next check: a wait returns at once,
        // the transfer asks first. The window closes once the command has returned.
        if (!closeRequested_)
            trace("close requested while a command runs");
        closeRequested_ = true;
        return false;
    }
    Form_Unload();
    return true;
}

void frmMain::changeNewsReady() {
    if (ctx_.api.interfacesChanged())
        interfacesChanged();
}

void frmMain::pollChanges() {
    if (unloaded_)
        return;
    changeNewsReady();
    later(ChangePollMs, [this] { pollChanges(); });
}

void frmMain::interfacesChanged() {
    discoverIn(SettleMs);
}

void frmMain::discoverIn(int ms) {
    const unsigned change = ++changes_;
    later(ms, [this, change] {
        if (change != changes_) // another change came: its own discovery follows
            return;
        if (held())
            changesMissed_ = true; // a command's own waits look; what is left is seen after
        else
            discover();
    });
}

void frmMain::discover() {
    runCommand([this] {
        if (follower_.rediscover(ctx_))
            discoverIn(DeniedRetryMs);
    });
}

void frmMain::later(int ms, std::function<void()> action) {
    view_.later(ms, [alive = alive_, action = std::move(action)] {
        if (*alive)
            action();
    });
}

std::string frmMain::label(InfoLabel label) const {
    return utf8Text(fields_.at(static_cast<std::size_t>(label)));
}

void frmMain::setLabel(InfoLabel label, const std::u16string& text) {
    // A field's text stands one space off its left edge.
    const std::u16string shown = text.empty() ? std::u16string() : u' ' + text;
    std::u16string& field = fields_.at(static_cast<std::size_t>(label));
    if (field == shown)
        return;
    field = shown;
    view_.setFieldText(label, shown);
    trace(std::string(fieldName(label)) + " = \"" + utf8Text(shown) + "\"");
}

void frmMain::setUpgradeCaption(const std::string& caption) {
    if (std::exchange(caption_, caption) == caption)
        return;
    view_.setUpgradeCaption(caption);
    trace("btnUpgradeFW caption = \"" + caption + "\"");
}

void frmMain::setUpgradeEnabled(bool enabled) {
    if (std::exchange(upgradeEnabled_, enabled) == enabled)
        return;
    view_.setUpgradeEnabled(enabled);
    trace(enabled ? "btnUpgradeFW enabled" : "btnUpgradeFW disabled");
}

void frmMain::setProgressVisible(bool visible) {
    if (std::exchange(barVisible_, visible) == visible)
        return;
    view_.setBarVisible(visible);
    trace(visible ? "Pic shown" : "Pic hidden");
}

void frmMain::setProgress(float twips, double percent) {
    if (std::exchange(barTwips_, twips) == twips)
        return;
    view_.setBarWidth(twips, percent);
    std::array<char, 64> line{};
    std::snprintf(line.data(), line.size(), "Pic width = %.1f twips (%.0f%%)",
                  static_cast<double>(twips), percent);
    trace(line.data());
}

void frmMain::repaintProgress() {
    view_.repaintBar();
}

void frmMain::processEvents() {
    view_.processEvents();
}

bool frmMain::confirmStop(const std::string& question) {
    trace("question: " + question);
    ++boxesOpen_;
    const bool stop = view_.askStop(question);
    --boxesOpen_;
    closeRequested_ = stop;
    return stop;
}

void frmMain::tellUser(const std::string& message) {
    trace("message: " + message);
    ++boxesOpen_;
    view_.showMessage(message);
    --boxesOpen_;
    letGo();
}

void frmMain::notify(const std::string& message) {
    trace("notice: " + message);
    view_.showNotice(message);
}

void frmMain::unload() {
    trace("unload");
    closeRequested_ = true;
    letGo();
}

void frmMain::trace(const std::string& line) const {
    if (trace_)
        trace_(line);
}

} // namespace quorvane
