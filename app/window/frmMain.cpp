#include "frmMain.h"

#include "captions.h"
#include "discovery.h"
#include "discovery_messages.h"
#include "field_text.h"
#include "text_encoding.h"
#include "window_layout.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <exception>
#include <utility>

namespace quorvane {

namespace {

CommandServices keepingRecord(CommandServices services, UpdateRecord& record) {
    services.lastRecord = &record;
    return services;
}

} // namespace

frmMain::frmMain(WindowView& view, HidPlatform& api, std::filesystem::path imagePath,
                 CommandServices services)
    : view_(view), ctx_{api, *this, state_},
      updater_(ctx_, std::move(imagePath), keepingRecord(std::move(services), finished_)),
      caption_(CaptionUpgrade), barTwips_(static_cast<float>(layout::control("Pic").rect.width)) {
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
        watch_ = ctx_.api.watchInterfaces();
        view_.watchInterfaces(watch_->descriptor());
        if (watch_->descriptor() < 0)
            later(ChangePollMs, [this] { pollChanges(); });
        const Findings found = FindAndShowDevice(ctx_);
        if (!state_.DeviceFound && !found.accessDeniedPath.empty())
            tellUser(deniedAccessAdvice(ThisSystem, found.accessDeniedPath, false));
    });
}

void frmMain::Form_Unload() {
    state_.closeHandles();
    unloaded_ = true;
}

void frmMain::Form_Terminate() {
    state_.closeHandles();
}

void frmMain::btnUpgradeFW_Click() {
    runUserCommand([this] { updater_.upgrade(); });
}

void frmMain::Command2_Click() {
    if (unloaded_ || running_)
        return;
    const std::array<std::u16string, 4> before = fields_;
    runUserCommand([this] { updater_.forceBootloader(); });
    // Said once the buttons are back, so that the focus has returned first.
    const UpdateSession* session = updater_.lastSession();
    if (!unloaded_ && session != nullptr && !session->stopped() &&
        session->outcome() == Outcome::Completed)
        announceBootloader(before);
}

template <typename Handler> void frmMain::runUserCommand(Handler&& handler) {
    if (unloaded_ || running_)
        return;
    // Neither button offers a press that would be ignored while the command runs.
    userCommand_ = true;
    finished_ = UpdateRecord{};
    showUsable();
    runCommand(std::forward<Handler>(handler));
    userCommand_ = false;
    showUsable();
}

void frmMain::showUsable() {
    // Once the window unloads, nothing can be pressed until it has gone.
    const bool usable = !userCommand_ && !unloaded_ && !closeRequested_;
    const std::pair<bool, bool> now{usable && upgradeEnabled_, usable};
    if (std::exchange(shownUsable_, now) == now)
        return;
    view_.setCommandsEnabled(now.first, now.second);
    trace(std::string("buttons: btnUpgradeFW ") + (now.first ? "enabled" : "disabled") +
          ", Command2 " + (now.second ? "enabled" : "disabled"));
}

void frmMain::announceBootloader(const std::array<std::u16string, 4>& before) {
    std::string text = AnnounceInBootloader;
    // In the order the window shows them.
    constexpr std::array<InfoLabel, 4> order{InfoLabel::Manufacturer, InfoLabel::Product,
                                             InfoLabel::Version, InfoLabel::SerialNumber};
    for (const InfoLabel label : order) {
        const auto i = static_cast<std::size_t>(label);
        if (fields_.at(i) == before.at(i))
            continue;
        const std::u16string_view spoken = spokenFieldText(fields_.at(i));
        text += std::string(" ") + layout::control(layout::fieldName(label)).accessibleName + ": " +
                (spoken.empty() ? std::string("empty")
                                : utf8Text(std::u16string(spoken.begin(), spoken.end()))) +
                ".";
    }
    announce(text);
}

void frmMain::announce(const std::string& text) {
    trace("announced: " + text);
    view_.announce(text);
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
        if (std::exchange(closeAfterAnnouncement_, false) && !ending_)
            later(AnnouncedCloseMs, [this] { view_.closeWindow(); });
        else
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

void frmMain::endAsked() {
    ending_ = true;
    if (closeAsked())
        view_.closeWindow();
}

void frmMain::windowSystemLost() {
    ending_ = lost_ = true;
    trace("the window system went away");
    // The program ends from inside the running command, so the command cannot record its own
    // outcome: it is recorded here, as a stop, unless it was already.
    if (userCommand_ && finished_.ended.empty())
        updater_.abandon();
}

void frmMain::changeNewsReady() {
    if (watch_ && watch_->changed())
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
    const std::u16string shown = shownFieldText(text);
    std::u16string& field = fields_.at(static_cast<std::size_t>(label));
    if (field == shown)
        return;
    field = shown;
    view_.setFieldText(label, shown);
    trace(std::string(layout::fieldName(label)) + " = \"" + utf8Text(shown) + "\"");
}

void frmMain::setUpgradeCaption(const std::string& caption) {
    if (std::exchange(caption_, caption) == caption)
        return;
    view_.setUpgradeCaption(caption);
    trace("btnUpgradeFW caption = \"" + caption + "\"");
}

void frmMain::setUpgradeEnabled(bool enabled) {
    upgradeEnabled_ = enabled;
    showUsable();
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
    if (ending_)
        return true;
    trace("question: " + question);
    ++boxesOpen_;
    // The system may ask the program to end while the question waits: it ends all the same.
    const bool stop = view_.askStop(question) || ending_;
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
    if (lost_) { // no window to show it in
        std::fprintf(stderr, "quorvane: %s\n", message.c_str());
        return;
    }
    view_.showNotice(message);
}

void frmMain::unload() {
    trace("unload");
    // An upgrade that succeeded would otherwise end in silence: the window just goes.
    const UpdateSession* session = updater_.lastSession();
    if (!closeRequested_ && session != nullptr && !session->stopped() &&
        session->outcome() == Outcome::Completed) {
        // The window shows it too, for those who see it rather than hear it.
        setProgress(static_cast<float>(state_.ProgressFullWidth), 100.0);
        repaintProgress();
        setUpgradeCaption(CaptionUpdateComplete);
        announce(AnnounceUpgradeDone);
        closeAfterAnnouncement_ = true;
    }
    closeRequested_ = true;
    showUsable();
    letGo();
}

void frmMain::trace(const std::string& line) const {
    if (trace_)
        trace_(line);
}

} // namespace quorvane
