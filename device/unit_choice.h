// Every Tarvex connected, read without sending it a report, and the choice of one of them when
// several are (the command line's --serial and --path).
#pragma once

#include "device_state.h"
#include "unit_identity.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// One interface with a Tarvex product ID, as discovery would read it.
struct TarvexListing {
    std::string path;
    std::string unit; // EnumeratedInterface::Unit; the path where the enumeration tells none
    bool unitIsPlace = false;
    bool opened = false;
    OpenError openError = OpenError::None;
    HidAttributes attributes; // from the enumeration when it could not be opened
    std::optional<HidCapabilities> capabilities;
    std::u16string manufacturer, product, serialNumber;
};

// Each interface with a Tarvex product ID, in enumeration order. Every handle opened is closed.
std::vector<TarvexListing> listTarvexUnits(HidPlatform& api);

struct UnitChoiceResult {
    std::optional<UnitIdentity> choice;
    std::string path;    // the chosen unit's interface
    std::string problem; // why none was chosen: none or several match
};

// The one unit whose serial number (or, with `byPath`, whose path) is `key`.
UnitChoiceResult chooseUnit(const std::vector<TarvexListing>& units, bool byPath,
                            const std::string& key);

} // namespace quorvane
