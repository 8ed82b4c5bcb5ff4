// What a command run leaves behind besides the device: sleep held off while it talks to the
// device, and one line in the update history.
#pragma once

#include "device_context.h"
#include "history_file.h"
#include "sleep_inhibitor.h"

#include <optional>
#include <string>

namespace quorvane {

// Given to the updater by the program that runs it; each may be missing (tests, benchmark).
struct CommandServices {
    SleepInhibitor* inhibitor = nullptr;
    const HistoryFile* history = nullptr;
    std::string program = "window";     // as the history names it: "window", "cli", "demo"
    UpdateRecord* lastRecord = nullptr; // given a copy of each line (the command line prints it)
};

class CommandRun {
public:
    // Notes the start and the device as shown now.
    CommandRun(const CommandServices& services, const DeviceState& state, std::string command);
    // Sleep is held off from here to finish().
    void holdSleep() { sleep_.emplace(services_.inhibitor); }
    void setImage(ImageSummary image, std::int64_t records);
    void setRecordsSent(std::int64_t sent) { record_.recordsSent = sent; }
    // Gives sleep back and appends the line: `failure` told (nothing: completed), or `stopped`
    // by the user. A history that cannot be written is no concern of the command's.
    void finish(const DeviceState& state, const std::optional<std::string>& failure, bool stopped);

private:
    const CommandServices& services_;
    UpdateRecord record_;
    std::optional<SleepHold> sleep_;
};

// The device as the window shows it; nothing when no device was found.
std::optional<DeviceSnapshot> snapshotOf(const DeviceState& state);

} // namespace quorvane
