// What discovery and its waits tell the user about the devices they see.
#pragma once

#include "ApiDeclarations.h"
#include "discovery.h"
#include "unit_identity.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

enum class HostSystem { Linux, Windows };
#ifdef _WIN32
inline constexpr HostSystem ThisSystem = HostSystem::Windows;
#else
inline constexpr HostSystem ThisSystem = HostSystem::Linux;
#endif

// A wait tells the user after this long without any Tarvex on the bus.
inline constexpr std::int64_t AbsentNoticeMs = 30000;

// Units named by their vendor and product IDs and product strings: 1d50:2211 "Tarvex", ...
std::string unitsText(const std::vector<EnumeratedInterface>& units);

// Why no Tarvex is shown though the enumeration names one: it opened, but its attributes
// could not be read (`cause`: the system's words, or empty).
std::string unreadableMessage(const std::string& path, const std::string& cause);
inline constexpr const char* MessageNoTarvex = "No Tarvex is connected. Connect it and try again.";
// What a command tells when it finds no Tarvex to work on: the access advice, the device that
// could not be read, or that none is connected.
std::string noTarvexMessage(const Findings& found);

// Why no report goes out when several Tarvex units are present: each named by its vendor and
// product IDs and its product string.
std::string severalUnitsMessage(const std::vector<EnumeratedInterface>& units);

// Why a command stopped when two units answer to the one it talks to (`units`), which only a
// place would tell apart.
std::string ambiguousUnitsMessage(const UnitIdentity& target,
                                  const std::vector<EnumeratedInterface>& units);

// Said once when a command's wait has not seen the Tarvex for AbsentNoticeMs.
std::string notBackYetMessage();

// Why a wait gave up: no Tarvex on the bus for `limitMs`.
std::string notBackMessage(std::int64_t limitMs);

// What to do when a Tarvex is present at `path` but its interface may not be opened, in the
// system's own terms. While a command runs the advice never asks to unplug the device.
std::string deniedAccessAdvice(HostSystem system, const std::string& path, bool commandRunning);

} // namespace quorvane
