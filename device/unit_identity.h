// The one unit a command talks to, known by what survives its restarts: where it is plugged,
// else its serial number; where neither is known, it is the one Tarvex on the bus.
#pragma once

#include "ApiDeclarations.h"

#include <string>

namespace quorvane {

struct UnitIdentity {
    std::string Place;        // EnumeratedInterface::Unit where UnitIsPlace; else empty
    std::string SerialNumber; // as read when it was chosen; empty when it has none
};

// What a unit is called where one name must do for it (its lock): its place. Units the platform
// cannot place share one name: a serial number may be unreadable to one program and not to
// another, so it cannot tell two programs that they hold the same unit.
inline std::string unitKey(const UnitIdentity& unit) {
    return unit.Place.empty() ? std::string("unplaced") : "place:" + unit.Place;
}

} // namespace quorvane
