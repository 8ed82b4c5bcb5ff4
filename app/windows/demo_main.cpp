// quorvane-demo.exe: the updater's window on the virtual Tarvex, with the sample image built
// beside this executable, so a whole upgrade can be watched without hardware.
//
// With QUORVANE_DEMO_SELF_DRIVE=1 it drives itself: it prints every change to the window,
// presses "Upgrade Firmware" and reports how the upgrade ended (exit status 0 when the device came
// back in its application firmware with the whole image).
//
// With QUORVANE_DEMO_SCREENSHOT=file.bmp it saves a picture of the window's client area, then
// ends; exit status 0 when it was written. QUORVANE_DEMO_SCENE chooses what the picture shows:
// `found` (the default: the virtual Tarvex found), `upgrading` (an upgrade half done) or
// `nodevice`.
#include "app_identity.h"
#include "clock.h"
#include "demo_support.h"
#include "frmMain.h"
#include "history_file.h"
#include "image_location.h"
#include "sleep_inhibitor.h"
#include "virtual_platform.h"
#include "window_picture.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

namespace {

using quorvane::frmMain;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : value;
}

// A program of the Windows subsystem has no console: when started from one, it prints there.
void printToParentConsole() {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
}

// Shows the scene, saves its picture and ends the program; the exit status tells whether the
// picture was saved.
int pictureOfScene(const std::string& scene, const std::string& path,
                   quorvane::VirtualPlatform& platform, frmMain& window, int imageRecords) {
    int status = 1;
    const auto shoot = [&] {
        window.processEvents();
        const std::string error = quorvane::saveWindowPicture(window.hwnd(), path);
        if (error.empty())
            status = 0;
        else
            std::cerr << "quorvane-demo: no picture: " << error << std::endl;
    };
    window.setNotifier([](const std::string& message, bool) {
        std::cerr << "quorvane-demo: " << message << std::endl;
    });
    if (scene == "nodevice")
        platform.tarvexAttached = false;
    window.Form_Load();
    if (scene != "upgrading") {
        shoot();
        return status;
    }
    // After each data report the transfer pauses, then moves the bar; the pause after the record
    // past the middle finds the bar at exactly half.
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
    window.later(0, [&window] {
        SendMessageW(window.control("btnUpgradeFW"), BM_CLICK, 0, 0);
        window.close();
    });
    window.run();
    if (!shot)
        std::cerr << "quorvane-demo: the upgrade never reached its middle\n";
    return status;
}

} // namespace

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    printToParentConsole();
    const std::filesystem::path image = quorvane::firmwareImageBesideExecutable();
    quorvane::TarvexConfig config = quorvane::defaultTarvexConfig();
    config.expectedRecords = quorvane::imageRecords(image);
    // The bootloader starts locked, so the unlock report is part of the show.
    config.statusBytes = {0x01, 0x00};

    std::optional<std::string> toldUser;
    quorvane::SteadyClock clock;
    quorvane::VirtualPlatform platform(clock, config);
    // The demo holds off sleep and keeps the history as the program does; its lines name the
    // virtual Tarvex's path.
    const auto inhibitor = quorvane::makeSystemInhibitor();
    const quorvane::HistoryFile history(quorvane::defaultHistoryPath());
    frmMain window(platform, image, {inhibitor.get(), &history, "demo"});

    const std::string picture = environment("QUORVANE_DEMO_SCREENSHOT");
    if (!picture.empty()) {
        const std::string scene = environment("QUORVANE_DEMO_SCENE");
        if (!scene.empty() && scene != "found" && scene != "upgrading" && scene != "nodevice") {
            std::cerr << "quorvane-demo: QUORVANE_DEMO_SCENE is found, upgrading or nodevice\n";
            return 2;
        }
        return pictureOfScene(scene, picture, platform, window, config.expectedRecords);
    }

    if (environment("QUORVANE_DEMO_SELF_DRIVE") != "1") {
        window.Form_Load();
        return window.run();
    }

    std::cout << "quorvane-demo " << quorvane::ApplicationVersion << ": upgrading a virtual Tarvex"
              << " with " << config.expectedRecords << " records from " << image.string()
              << " in the Windows window at " << window.dpi() << " DPI\n";
    window.setNotifier([&toldUser](const std::string& message, bool) {
        std::cerr << "quorvane-demo: " << message << std::endl;
        toldUser = message;
    });
    window.Form_Load();
    quorvane::printLabels([&window](quorvane::InfoLabel l) { return window.label(l); });
    // From here on every change the command makes to the window is printed.
    window.setTraceHook([](const std::string& line) { std::cout << "  " << line << std::endl; });
    window.later(0, [&window] {
        // The button's own click, through the window's message handling.
        SendMessageW(window.control("btnUpgradeFW"), BM_CLICK, 0, 0);
        // A click that started nothing leaves the window open; the run is over all the same.
        window.close();
    });
    window.later(quorvane::SelfDriveLimitMs, [&window] {
        std::cout << "the upgrade did not finish in " << quorvane::SelfDriveLimitMs / 1000
                  << " s; closing the window" << std::endl;
        window.close();
    });
    window.run();
    return quorvane::reportOutcome(platform, window.updater().failure(), config.expectedRecords,
                                   toldUser);
}
