// What one scenario left behind, and the rules it must never break: handles, the bytes on the
// wire, where firmware goes, what the user is told, the image file, and when commands end.
#pragma once

#include "scenario.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvane::campaign {

struct MessageRecord {
    std::string text;
    std::size_t logIndex = 0;   // size of the call log when it was told
    bool windowClosing = false; // the user had closed the window already
};

// A click made while a command ran, with what it could have changed.
struct NestedClick {
    Command command = Command::Upgrade;
    std::size_t logBefore = 0, logAfter = 0;
    std::size_t messagesBefore = 0, messagesAfter = 0;
    std::size_t captionsBefore = 0, captionsAfter = 0;
    bool enabledBefore = true, enabledAfter = true;
    int unloadsBefore = 0, unloadsAfter = 0;
};

// One top-level click and what surrounded it.
struct CommandRun {
    Command command = Command::Upgrade;
    std::size_t logBegin = 0, logEnd = 0;
    std::int64_t timeBegin = 0, timeEnd = 0;
    std::size_t messagesBegin = 0, messagesEnd = 0;
    std::size_t captionsBegin = 0, captionsEnd = 0;
    int unloadsBegin = 0, unloadsEnd = 0;
    bool enabledBefore = true, enabledAfter = true;
    bool deviceFoundAtClick = false;
    bool imageChangedBeforeClick = false;
    std::optional<std::size_t> closedAtLog;   // the user closed the window here
    std::optional<std::size_t> unloadedAtLog; // the command unloaded the window here
    // The device as it really was when the command returned.
    bool devicePresent = false;
    TarvexMode deviceMode = TarvexMode::Application;
    // The device as the program believed it to be.
    bool hostFound = false;
    std::uint16_t hostProductId = 0;
    std::optional<std::int64_t> bound;
    bool boundExceeded = false;
    int imageDescriptors = -1; // descriptors open on the image afterwards (-1: not looked)
};

struct ImageState {
    bool exists = false;
    bool isDirectory = false;
    std::vector<std::uint8_t> bytes;
    std::filesystem::file_time_type mtime{};
};

struct Observation {
    std::span<const CallRecord> log;
    std::span<const std::string> misuse;
    int openHandlesAtEnd = 0;
    std::span<const std::array<std::uint8_t, 40>> deviceRecords;
    std::vector<MessageRecord> messages;
    std::vector<CommandRun> commands;
    std::vector<NestedClick> nestedClicks;
    bool imageChanged = false; // the scenario replaced or removed it
    ImageState imageBefore;
    ImageState imageAfter;
    int imageDescriptorsAtEnd = -1;
};

// Every broken rule, each as one line starting with its number.
std::vector<std::string> checkInvariants(const Scenario& scenario, const Observation& observed);

// The records the program should send: the image as it stood when the transfer read it.
std::vector<std::array<std::uint8_t, 40>> imageRecords(const ImagePlan& plan);

} // namespace quorvane::campaign
