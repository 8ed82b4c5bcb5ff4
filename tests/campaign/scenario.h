// A fault-campaign scenario: one seeded combination of a misbehaving Tarvex, the interfaces
// around it, a firmware image and a user, generated from a seed so that it replays exactly.
#pragma once

#include "virtual_platform.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::campaign {

inline constexpr std::int64_t Forever = std::numeric_limits<std::int64_t>::max();

// Device queries that fail for a while: from `from` (virtual ms) until before `until`.
enum class Switch {
    Enumeration,
    Open,
    OverlappedOpen,
    Attributes,
    Capabilities,
    Manufacturer,
    Product,
    SerialNumber,
    Status
};
struct SwitchWindow {
    Switch which = Switch::Open;
    std::int64_t from = 0;
    std::int64_t until = Forever;
};

// What lies at the image's path: nothing, a directory, or `size` bytes made from `seed`.
enum class ImageKind { Missing, Directory, Bytes };
struct ImagePlan {
    ImageKind kind = ImageKind::Bytes;
    std::size_t size = 0;
    std::uint32_t seed = 1;
};

// The image replaced (or removed) at the `atSleep`-th pause of the program, if the transfer
// has not begun by then.
struct ImageChange {
    int atSleep = 1;
    ImagePlan to;
};

enum class Command { Upgrade, ForceBootloader };

struct UserStep {
    std::int64_t idleMs = 0; // the window sits idle this long before the click
    Command command = Command::Upgrade;
};

struct UserPlan {
    std::vector<UserStep> steps;       // then the user closes the window
    double clickChance = 0;            // at each processing of events, a click on either button
    int closeAtEvent = 0;              // closes the window at this processing of events (0: never)
    std::int64_t patienceMs = Forever; // closes a command that has run this long
};

struct Scenario {
    std::uint64_t seed = 0;
    TarvexConfig device;
    std::vector<SwitchWindow> switches;
    std::optional<std::int64_t> unplugAt; // the Tarvex is pulled out for good at this time
    std::vector<ForeignInterface> foreignBefore;
    std::vector<ForeignInterface> foreignAfter;
    ImagePlan image;
    std::optional<ImageChange> change;
    UserPlan user;
};

Scenario generateScenario(std::uint64_t seed);

// One line that names everything the seed chose.
std::string describe(const Scenario& scenario);

// A file the program may send: a whole number of records, at least one, not too many.
bool sendableImage(const ImagePlan& plan);

// The bytes of an image plan (empty unless it is ImageKind::Bytes).
std::vector<std::uint8_t> imageContent(const ImagePlan& plan);

// Virtual time a command started at `start` may take while the device can be found, or nothing
// when the device may be gone for good (then only the user ends the command).
std::optional<std::int64_t> commandBound(const Scenario& scenario, std::int64_t start);

bool isImpostor(const ForeignInterface& foreign);

} // namespace quorvane::campaign
