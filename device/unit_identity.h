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

// What a unit is called where one name must do for it (a lock, a record): its place, else its
// serial number, else a name that every unit without either shares.
inline std::string unitKey(const UnitIdentity& unit) {
    if (!unit.Place.empty())
        return "place:" + unit.Place;
    if (!unit.SerialNumber.empty())
        return "serial:" + unit.SerialNumber;
    return "unnamed";
}

} // namespace quorvane
