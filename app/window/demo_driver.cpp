#include "demo_driver.h"

#include "app_identity.h"
#include "clock.h"
#include "frmMain.h"
#include "history_file.h"
#include "image_location.h"
#include "sleep_inhibitor.h"
#include "tarvex_protocol.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
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

// The toolkit's window with nobody at it: what a box would say goes to the standard error (the
// last of it kept), and the question whether to stop is answered "Stop".
class UnattendedView final : public WindowView {
public:
    explicit UnattendedView(WindowView& inner) : inner_(inner) {}

    void attach(WindowEvents* events) override { inner_.attach(events); }
    void show() override { inner_.show(); }
    void setFieldText(InfoLabel field, const std::u16string& text) override {
        inner_.setFieldText(field, text);
    }
    void setUpgradeCaption(const std::string& caption) override {
        inner_.setUpgradeCaption(caption);
    }
    void setCommandsEnabled(bool upgrade, bool bootloader) override {
        inner_.setCommandsEnabled(upgrade, bootloader);
    }
    void announce(const std::string& text) override { inner_.announce(text); }
    void setBarVisible(bool visible) override { inner_.setBarVisible(visible); }
    void setBarWidth(float twips, double percent) override { inner_.setBarWidth(twips, percent); }
    void repaintBar() override { inner_.repaintBar(); }
    void processEvents() override { inner_.processEvents(); }
    void showMessage(const std::string& message) override { say(message); }
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

    std::optional<std::string> told;

private:
    void say(const std::string& message) {
        std::cerr << "quorvane-demo: " << message << std::endl;
        told = message;
    }
    WindowView& inner_;
};

// The four fields as the window shows them, one line each.
void printLabels(const frmMain& window) {
    const std::pair<const char*, InfoLabel> rows[] = {
        {"Manufacturer", InfoLabel::Manufacturer},
        {"Product", InfoLabel::Product},
        {"Version", InfoLabel::Version},
        {"Serial Number", InfoLabel::SerialNumber},
    };
    for (const auto& [caption, label] : rows)
        std::cout << caption << ": \"" << window.label(label) << "\"\n";
    std::cout << std::flush;
}

// How the self-driven upgrade ended, printed; 0 when the device came back in its application
// firmware with every record of the image and nobody was told of a failure.
int reportOutcome(VirtualPlatform& platform, const std::optional<std::string>& failure,
                  int expectedRecords, const std::optional<std::string>& toldUser) {
    VirtualTarvex& tarvex = platform.tarvex();
    tarvex.advance(platform.nowMs());
    const auto received = tarvex.records().size();
    const bool backInApplication = tarvex.present() && tarvex.mode() == TarvexMode::Application;
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
int pictureOfScene(const DemoWindow& demo, const std::string& scene, const std::string& path,
                   VirtualPlatform& platform, frmMain& window, int records) {
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
    const std::filesystem::path image = firmwareImageBesideExecutable();
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
        if (!scene.empty() && scene != "found" && scene != "upgrading" && scene != "nodevice") {
            std::cerr << "quorvane-demo: QUORVANE_DEMO_SCENE is found, upgrading or nodevice\n";
            return 2;
        }
        UnattendedView view(demo.view);
        frmMain window(view, platform, image, services);
        return pictureOfScene(demo, scene, picture, platform, window, config.expectedRecords);
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
    // From here on every change the command makes to the window is printed.
    window.setTraceHook([](const std::string& line) { std::cout << "  " << line << std::endl; });
    pressUpgradeThenClose(view, window);
    view.later(SelfDriveLimitMs, [&view] {
        std::cout << "the upgrade did not finish in " << SelfDriveLimitMs / 1000
                  << " s; closing the window" << std::endl;
        view.requestClose();
    });
    if (!window.unloaded())
        view.run();
    return reportOutcome(platform, window.updater().failure(), config.expectedRecords, view.told);
}

} // namespace quorvane
