// quorvane-demo: the updater's window on the virtual Tarvex, with the sample image built beside
// this executable, so a whole upgrade can be watched without hardware.
//
// Without a display (neither DISPLAY nor WAYLAND_DISPLAY on Linux), or with
// QUORVANE_DEMO_SELF_DRIVE=1, it drives itself: it runs offscreen, prints every change to the
// window, presses "Upgrade Firmware" and reports how the upgrade ended (exit status 0 when the
// device came back in its application firmware with the whole image).
//
// With QUORVANE_DEMO_SCREENSHOT=file.png it saves a picture of the window as the screen shows
// it (and file.json beside it, placing each control on the picture), then ends; exit status 0
// when both were written. QUORVANE_DEMO_SCENE chooses what the picture shows: `found` (the
// default: the virtual Tarvex found), `upgrading` (an upgrade half done) or `nodevice`.
#include "app_identity.h"
#include "clock.h"
#include "demo_support.h"
#include "frmMain.h"
#include "history_file.h"
#include "image_location.h"
#include "sleep_inhibitor.h"
#include "tarvex_protocol.h"
#include "virtual_platform.h"
#include "window_picture.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

namespace {

using quorvane::frmMain;
using quorvane::SelfDriveLimitMs;

bool selfDriving() {
    if (qEnvironmentVariable("QUORVANE_DEMO_SELF_DRIVE") == QLatin1String("1"))
        return true;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return false;
#endif
}

enum class Scene { Found, Upgrading, NoDevice };

std::optional<Scene> sceneNamed(const QString& name) {
    if (name.isEmpty() || name == QLatin1String("found"))
        return Scene::Found;
    if (name == QLatin1String("upgrading"))
        return Scene::Upgrading;
    if (name == QLatin1String("nodevice"))
        return Scene::NoDevice;
    return std::nullopt;
}

// Shows the scene, saves its picture and ends the program; the exit status tells whether the
// picture was saved.
int pictureOfScene(Scene scene, const QString& path, quorvane::VirtualPlatform& platform,
                   frmMain& window, int imageRecords) {
    int status = 1;
    const auto shoot = [&] {
        const QString error = quorvane::saveWindowPicture(window, path);
        if (error.isEmpty())
            status = 0;
        else
            std::cerr << "quorvane-demo: no picture: " << error.toStdString() << std::endl;
    };
    window.setNotifier([](const std::string& message, bool) {
        std::cerr << "quorvane-demo: " << message << std::endl;
    });
    if (scene == Scene::NoDevice)
        platform.tarvexAttached = false;
    window.Form_Load();
    if (scene != Scene::Upgrading) {
        shoot();
        return status;
    }
    if (imageRecords < 2) {
        std::cerr << "quorvane-demo: the sample image is too small to show an upgrade\n";
        return 1;
    }
    // After each data report the transfer pauses, then moves the bar; the pause after the
    // record past the middle finds the bar at exactly half.
    bool shot = false;
    const std::size_t atHalf = static_cast<std::size_t>(imageRecords / 2) + 1;
    platform.onSleep = [&](std::int64_t) {
        if (shot || platform.tarvex().records().size() != atHalf)
            return;
        shot = true;
        shoot();
        window.setAsker([](const std::string&) { return true; }); // "Stop"
        window.close(); // stops the upgrade; the window closes once it has
    };
    QTimer::singleShot(0, &window, [&window] {
        if (auto* upgrade = window.findChild<QPushButton*>(QStringLiteral("btnUpgradeFW")))
            upgrade->click();
        if (!window.unloaded())
            window.close();
    });
    if (!window.unloaded())
        QApplication::exec();
    if (!shot)
        std::cerr << "quorvane-demo: the upgrade never reached its middle\n";
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    const bool selfDrive = selfDriving();
    if (selfDrive)
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    quorvane::applyApplicationIdentity();
    QApplication::setQuitOnLastWindowClosed(true);

    const std::filesystem::path image = quorvane::firmwareImageBesideExecutable();
    quorvane::TarvexConfig config = quorvane::defaultTarvexConfig();
    config.expectedRecords = quorvane::imageRecords(image);
    // The bootloader starts locked, so the unlock report is part of the show.
    config.statusBytes = {0x01, 0x00};

    // What the window last told the user; outlives the window, whose notifier writes it.
    std::optional<std::string> toldUser;
    quorvane::SteadyClock clock;
    quorvane::VirtualPlatform platform(clock, config);
    // The demo holds off sleep and keeps the history as the program does; its lines name the
    // virtual Tarvex's path.
    const auto inhibitor = quorvane::makeSystemInhibitor();
    const quorvane::HistoryFile history(quorvane::defaultHistoryPath());
    frmMain window(platform, image, {inhibitor.get(), &history, "demo"});

    if (qEnvironmentVariableIsSet("QUORVANE_DEMO_SCREENSHOT")) {
        const auto scene = sceneNamed(qEnvironmentVariable("QUORVANE_DEMO_SCENE"));
        if (!scene) {
            std::cerr << "quorvane-demo: QUORVANE_DEMO_SCENE is found, upgrading or nodevice\n";
            return 2;
        }
        return pictureOfScene(*scene, qEnvironmentVariable("QUORVANE_DEMO_SCREENSHOT"), platform,
                              window, config.expectedRecords);
    }

    if (!selfDrive) {
        // A box to plug the virtual Tarvex in and out, as a person would the real one; the
        // window follows.
        QCheckBox plug(QStringLiteral("Virtual Tarvex plugged in"));
        plug.setWindowTitle(QStringLiteral("quorvane-demo"));
        plug.setChecked(true);
        QObject::connect(&plug, &QCheckBox::toggled,
                         [&platform](bool in) { platform.tarvexAttached = in; });
        plug.setAttribute(Qt::WA_QuitOnClose, false); // the demo ends with its window
        window.Form_Load();
        if (window.unloaded())
            return 0;
        plug.move(window.frameGeometry().topRight() + QPoint(16, 0));
        plug.show();
        return QApplication::exec();
    }

    std::cout << "quorvane-demo " << quorvane::ApplicationVersion << ": upgrading a virtual Tarvex"
              << " with " << config.expectedRecords << " records from " << image.string() << '\n';
    window.setNotifier([&toldUser](const std::string& message, bool) {
        std::cerr << "quorvane-demo: " << message << std::endl;
        toldUser = message;
    });
    window.Form_Load();
    quorvane::printLabels([&window](quorvane::InfoLabel l) { return window.label(l); });
    // From here on every change the command makes to the window is printed.
    window.setTraceHook([](const std::string& line) { std::cout << "  " << line << std::endl; });
    QTimer::singleShot(0, &window, [&window] {
        if (auto* upgrade = window.findChild<QPushButton*>(QStringLiteral("btnUpgradeFW")))
            upgrade->click();
        // A click that started nothing leaves the window open; the run is over all the same.
        if (!window.unloaded())
            window.close();
    });
    QTimer::singleShot(SelfDriveLimitMs, &window, [&window] {
        std::cout << "the upgrade did not finish in " << SelfDriveLimitMs / 1000
                  << " s; closing the window" << std::endl;
        window.close();
    });
    if (!window.unloaded())
        QApplication::exec();
    return quorvane::reportOutcome(platform, window.updater().failure(), config.expectedRecords,
                                   toldUser);
}
