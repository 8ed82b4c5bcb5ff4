// Plays one scenario through the real discovery and commands against the virtual Tarvex on a
// virtual clock, with a simulated user at the window, and records what happened.
#pragma once

#include "device_context.h"
#include "firmware_updater.h"
#include "invariants.h"
#include "recording_window.h"
#include "scenario.h"

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <random>

namespace quorvane::campaign {

// How the scenario ended, for the campaign's tally.
enum class Outcome {
    NoDevice,     // nothing was found at load, or no command was clicked
    Refused,      // the upgrade refused the image
    Completed,    // all records delivered, the device back in its application firmware
    ToldFailure,  // the upgrade stopped and said why
    ClosedByUser, // the user closed the window during a command
    ForceReached, // Force Bootloader Mode left the device in its bootloader
    ForceToldFailure,
    Count
};
const char* outcomeName(Outcome outcome);

class ScenarioRun {
public:
    // The image lies in a directory of the scenario's own under `directory`, so that nothing a
    // scenario leaves behind can be taken for another's.
    ScenarioRun(const Scenario& scenario, const std::filesystem::path& directory);
    ScenarioRun(const ScenarioRun&) = delete;
    ScenarioRun& operator=(const ScenarioRun&) = delete;
    ~ScenarioRun();

    // Plays the whole scenario: load, the user's clicks, the close. Call once.
    void play();

    const Observation& observation() const { return observation_; }
    Outcome outcome() const;
    const VirtualPlatform& platform() const { return api_; }
    const test::RecordingWindow& window() const { return window_; }

    // The call log, the commands and the messages, one line each.
    void print(std::ostream& out) const;

private:
    void runCommand(const UserStep& step);
    void atEvents();
    void atSleep(std::int64_t now);
    void applySwitches(std::int64_t now);
    void closeWindow();
    void unloadWindow();
    std::int64_t watchLimit() const;

    const Scenario& sc_;
    std::filesystem::path imagePath_;
    VirtualClock clock_;
    VirtualPlatform api_;
    test::RecordingWindow window_;
    DeviceState state_;
    DeviceContext ctx_;
    FirmwareUpdater updater_;
    std::mt19937_64 userDice_;
    Observation observation_;
    std::optional<CommandRun> current_; // the command running now
    int events_ = 0;
    int sleeps_ = 0;
};

// Writes what an image plan describes at `path`, replacing whatever was there.
void placeImage(const ImagePlan& plan, const std::filesystem::path& path);
ImageState imageState(const std::filesystem::path& path);
// Descriptors of this process open on `path`; -1 where that cannot be seen.
int descriptorsOpenOn(const std::filesystem::path& path);

} // namespace quorvane::campaign
