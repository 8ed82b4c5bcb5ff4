#include "demo_driver.h"

#include "app_identity.h"
#include "captions.h"
#include "clock.h"
#include "device_info.h"
#include "field_text.h"
#include "frmMain.h"
#include "history_file.h"
#include "sleep_inhibitor.h"
#include "tarvex_protocol.h"
#include "text_encoding.h"
#include "window_layout.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string_view>
#include <utility>

namespace quorvane {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

// Whole records of 40 bytes in the image; 0 when it cannot be read.
int imageRecords(const std::filesystem::path& image) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(image, error);
    return error ? 0 : static_cast<int>(size / RecordSize);
}

// A field as a person reads it (`shown` in UTF-8, one space off the edge), with its row's caption.
std::string fieldLine(InfoLabel field, std::string_view shown) {
    if (shown.starts_with(static_cast<char>(FieldIndent)))
        shown.remove_prefix(1);
    return std::string(layout::control(layout::fieldName(field)).accessibleName) + ": " +
           (shown.empty() ? std::string("(empty)") : std::string(shown));
}

// The toolkit's window with nobody at it: what a box would say goes to the standard error (the
// last warning kept), and the question whether to stop is answered "Stop". While it narrates, what
// a person would see change is printed: the fields, the upgrade button's caption, the bar in
// steps of a tenth.
class UnattendedView final : public WindowView {
public:
    explicit UnattendedView(WindowView& inner) : inner_(inner) {}

    void attach(WindowEvents* events) override { inner_.attach(events); }
    void show() override { inner_.show(); }
    void setFieldText(InfoLabel field, const std::u16string& text) override {
        inner_.setFieldText(field, text);
        if (narrating)
            std::cout << "  " << fieldLine(field, utf8Text(text)) << std::endl;
    }
    void setUpgradeCaption(const std::string& caption) override {
        inner_.setUpgradeCaption(caption);
        if (narrating)
            std::cout << "  " << CaptionUpgrade << " button: \"" << caption << '"' << std::endl;
    }
    void setCommandsEnabled(bool upgrade, bool bootloader) override {
        inner_.setCommandsEnabled(upgrade, bootloader);
    }
    void announce(const std::string& text) override {
        inner_.announce(text);
        if (onAnnounce)
            onAnnounce();
    }
    void setBarVisible(bool visible) override { inner_.setBarVisible(visible); }
    void setBarWidth(float twips, double percent) override {
        inner_.setBarWidth(twips, percent);
        const int tenths = static_cast<int>(percent / 10);
        if (narrating && std::exchange(barTenths_, tenths) != tenths)
            std::cout << "  progress " << tenths * 10 << '%' << std::endl;
    }
    void repaintBar() override { inner_.repaintBar(); }
    void processEvents() override { inner_.processEvents(); }
    void showMessage(const std::string& message) override {
        say(message);
        told = message;
    }
    // A notice (the history not written, the Tarvex slow to restart) tells no failure.
    void showNotice(const std::string& message) override { say(message); }
    bool askStop(const std::string& /*question*/) override { return true; }
    void later(int ms, std::function<void()> action) override {
        inner_.later(ms, std::move(action));
    }
    void watchInterfaces(int descriptor) override { inner_.watchInterfaces(descriptor); }
    void closeWindow() override { inner_.closeWindow(); }
    void requestClose() override { inner_.requestClose(); }
    void pressUpgrade() override { inner_.pressUpgrade(); }
    int run() override { return inner_.run(); }

    std::optional<std::string> told; // the last warning box's message
    bool narrating = false;
    std::function<void()> onAnnounce; // after a command's result was announced

private:
    void say(const std::string& message) { std::cerr << "quorvane-demo: " << message << std::endl; }
    WindowView& inner_;
    int barTenths_ = 0;
};

// The four fields as the window shows them, one line each.
void printLabels(const frmMain& window) {
    for (const InfoLabel field :
         {InfoLabel::Manufacturer, InfoLabel::Product, InfoLabel::Version, InfoLabel::SerialNumber})
        std::cout << fieldLine(field, window.label(field)) << '\n';
    std::cout << std::flush;
}

// How the self-driven upgrade ended, printed; 0 when the device came back in its application
// firmware with every record of the image and nobody was told of a failure.
int reportOutcome(VirtualPlatform& platform, const FirmwareUpdater& updater, int expectedRecords,
                  const std::optional<std::string>& toldUser) {
    VirtualTarvex& tarvex = platform.tarvex();
    tarvex.advance(platform.nowMs());
    const auto received = tarvex.records().size();
    const bool backInApplication = tarvex.present() && tarvex.mode() == TarvexMode::Application;
    const UpdateSession* session = updater.lastSession();
    if (session != nullptr && session->stopped() && !session->transferComplete()) {
        std::cout << "upgrade stopped: " << session->message() << '\n';
        return 1;
    }
    const std::optional<std::string> failure = updater.failure();
    if (failure || toldUser) {
        std::cout << "upgrade failed: " << (failure ? *failure : *toldUser) << '\n';
        return 1;
    }
    if (backInApplication && expectedRecords > 0 &&
        received == static_cast<std::size_t>(expectedRecords)) {
        std::cout << "upgrade finished: device back in its application firmware, " << received
                  << " records received\n";
        return 0;
    }
    std::cout << "upgrade failed: device "
              << (!tarvex.present()                          ? "absent"
                  : tarvex.mode() == TarvexMode::Application ? "in its application"
                                                             : "in its bootloader")
              << ", " << received << " of " << expectedRecords << " records received\n";
    return 1;
}

// Presses "Upgrade Firmware" once the event loop runs; a click that started nothing leaves the
// window open, and the run is over all the same.
void pressUpgradeThenClose(WindowView& view, const frmMain& window) {
    view.later(0, [&view, &window] {
        view.pressUpgrade();
        if (!window.unloaded())
            view.requestClose();
    });
}

// Shows the scene, saves its picture and ends; the exit status tells whether it was saved.
int pictureOfScene(const DemoWindow& demo, UnattendedView& view, const std::string& scene,
                   const std::string& path, VirtualPlatform& platform, frmMain& window,
                   int records) {
    int status = 1;
    const auto shoot = [&] {
        demo.view.processEvents();
        const std::string error = demo.takePicture(path);
        if (error.empty())
            status = 0;
        else
            std::cerr << "quorvane-demo: no picture: " << error << std::endl;
    };
    if (scene == "nodevice")
        platform.tarvexAttached = false;
    window.Form_Load();
    if (scene == "done") { // the window as it stays after a success, before it closes
        view.onAnnounce = [&] { shoot(); };
        pressUpgradeThenClose(demo.view, window);
        if (!window.unloaded())
            demo.view.run();
        return status;
    }
    if (scene != "upgrading") {
        shoot();
        return status;
    }
    if (records < 2) {
        std::cerr << "quorvane-demo: the sample image is too small to show an upgrade\n";
        return 1;
    }
    // After each data report the transfer pauses, then moves the bar; the pause after the
    // record past the middle finds the bar at exactly half.
    bool shot = false;
    const std::size_t atHalf = static_cast<std::size_t>(records / 2) + 1;
    platform.onSleep = [&](std::int64_t) {
        if (shot || platform.tarvex().records().size() != atHalf)
            return;
        shot = true;
        shoot();
        demo.view.requestClose(); // stops the upgrade; the window closes once it has
    };
    pressUpgradeThenClose(demo.view, window);
    if (!window.unloaded())
        demo.view.run();
    if (!shot)
        std::cerr << "quorvane-demo: the upgrade never reached its middle\n";
    return status;
}

} // namespace

int runDemo(DemoWindow demo, bool selfDrive) {
    const std::filesystem::path image = demo.image;
    TarvexConfig config = defaultTarvexConfig();
    config.expectedRecords = imageRecords(image);
    // The bootloader starts locked, so the unlock report is part of the show.
    config.statusBytes = {0x01, 0x00};

    SteadyClock clock;
    VirtualPlatform platform(clock, config);
    // The demo holds off sleep and keeps the history as the program does; its lines name the
    // virtual Tarvex's path.
    const auto inhibitor = makeSystemInhibitor();
    const HistoryFile history(defaultHistoryPath());
    const CommandServices services{inhibitor.get(), &history, "demo"};

    const std::string picture = environment("QUORVANE_DEMO_SCREENSHOT");
    const std::string scene = environment("QUORVANE_DEMO_SCENE");
    if (!picture.empty()) {
        if (!scene.empty() && scene != "found" && scene != "upgrading" && scene != "done" &&
            scene != "nodevice") {
            std::cerr << "quorvane-demo: QUORVANE_DEMO_SCENE is found, upgrading, done or "
                         "nodevice\n";
            return 2;
        }
        UnattendedView view(demo.view);
        // A scene is no update of the user's: it leaves no line in their history.
        frmMain window(view, platform, image, {inhibitor.get(), nullptr, "demo"});
        return pictureOfScene(demo, view, scene, picture, platform, window, config.expectedRecords);
    }

    if (!selfDrive) {
        frmMain window(demo.view, platform, image, services);
        window.Form_Load();
        if (window.unloaded())
            return 0;
        if (demo.besideWindow)
            demo.besideWindow(platform);
        return demo.view.run();
    }

    std::cout << "quorvane-demo " << ApplicationVersion << ": upgrading a virtual Tarvex with "
              << config.expectedRecords << " records from " << image.string() << demo.shownIn
              << '\n';
    UnattendedView view(demo.view);
    frmMain window(view, platform, image, services);
    window.Form_Load();
    printLabels(window);
    // From here on what a person would see change is printed; with QUORVANE_DEMO_TRACE=1 every
    // change the command makes to the window's controls instead.
    if (environment("QUORVANE_DEMO_TRACE") == "1")
        window.setTraceHook(
            [](const std::string& line) { std::cout << "  " << line << std::endl; });
    else
        view.narrating = true;
    pressUpgradeThenClose(view, window);
    view.later(SelfDriveLimitMs, [&view] {
        std::cout << "the upgrade did not finish in " << SelfDriveLimitMs / 1000
                  << " s; closing the window" << std::endl;
        view.requestClose();
    });
    if (!window.unloaded())
        view.run();
    return reportOutcome(platform, window.updater(), config.expectedRecords, view.told);
}

} // namespace quorvane
