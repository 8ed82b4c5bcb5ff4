// One line of the update history: what a command did, to which device, with which image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace quorvane {

// How a command ended, and its name in the history, the JSON and the command line's outcome.
enum class Outcome { Completed, Failed, Stopped };
const char* outcomeName(Outcome outcome); // "completed", "failed", "stopped"

// The device as the window showed it.
struct DeviceSnapshot {
    std::string mode; // "application", "bootloader"
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string version; // as shown, "2.13"
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string path;
};

struct ImageSummary {
    std::string path;
    std::uint64_t size = 0;
    std::string sha256; // lower-case hex
};

struct UpdateRecord {
    std::string started; // UTC, ISO 8601 ("2026-12-07T04:52:10.123Z")
    std::string ended;
    std::string program;                        // "window", "cli", "demo"
    std::string command;                        // "upgrade", "bootloader"
    std::optional<DeviceSnapshot> deviceBefore; // nothing: no device was found
    std::optional<DeviceSnapshot> deviceAfter;
    std::optional<ImageSummary> image; // the upgrade's, once checked
    std::int64_t recordsSent = 0;
    std::int64_t recordsTotal = 0;
    std::string outcome; // outcomeName()
    std::string message; // what the user was told; empty when nothing
    bool sleepHeldOff = false;
    // Other Tarvex units connected while the command ran, never sent a byte ("1d50:b046").
    std::vector<std::string> otherUnits;
};

nlohmann::ordered_json toJson(const UpdateRecord& record);
// The record a history line holds; nothing for a line that is not one (damaged, cut, foreign).
std::optional<UpdateRecord> recordFromJson(const nlohmann::ordered_json& line);

// JSON as text, for the history and every --json output: text that is not UTF-8 (a path, an
// argument, a device string) is written with replacement characters, never thrown on.
std::string jsonText(const nlohmann::ordered_json& json, int indent = -1);

// Now, as the history writes times.
std::string utcNow();

} // namespace quorvane
