#include "unit_choice.h"

#include "device_info.h"
#include "discovery.h"
#include "interface_reading.h"
#include "null_window.h"
#include "tarvex_identity.h"
#include "text_encoding.h"

#include <algorithm>

namespace quorvane {

std::vector<TarvexListing> listTarvexUnits(HidPlatform& api) {
    std::vector<TarvexListing> units;
    for (const EnumeratedInterface& listed : api.enumerateInterfaces()) {
        if (!mayBeTarvex(listed))
            continue;
        OpenedInterface i = openInterface(api, listed);
        TarvexListing unit;
        unit.path = listed.Path;
        unit.unit = listed.Unit;
        unit.unitIsPlace = listed.UnitIsPlace;
        unit.openError = i.openError;
        unit.opened = i.attributesRead;
        unit.attributes = i.attributes;
        if (unit.opened && isTarvexProduct(i.attributes.ProductID)) {
            // The handles close when `s` goes, however this ends.
            NullWindow window;
            DeviceState s;
            DeviceContext ctx{api, window, s};
            s.HidHandle = std::move(i.handle);
            ReadDeviceCaps(ctx);
            unit.capabilities = s.Capabilities;
            s.OverlappedHandle = DeviceHandle(api, listed.Path, OpenMode::Overlapped);
            for (auto [kind, text] : {std::pair{StringKind::Manufacturer, &unit.manufacturer},
                                      {StringKind::Product, &unit.product},
                                      {StringKind::SerialNumber, &unit.serialNumber}})
                *text = queryDeviceString(ctx, kind).value_or(u"");
            units.push_back(std::move(unit));
        } else if (!unit.opened && isTarvexProduct(listed.ProductID)) { // there, not to be read
            unit.product = listed.Product;
            units.push_back(std::move(unit));
        }
    }
    return units;
}

UnitChoiceResult chooseUnit(const std::vector<TarvexListing>& units, bool byPath,
                            const std::string& key) {
    UnitChoiceResult result;
    const TarvexListing* chosen = nullptr;
    for (const TarvexListing& unit : units) {
        if ((byPath ? unit.path : utf8Text(unit.serialNumber)) != key)
            continue;
        if (chosen != nullptr && chosen->unit != unit.unit) {
            result.problem = "More than one Tarvex has the serial number \"" + key +
                             "\"; choose one with --path.";
            return result;
        }
        chosen = chosen != nullptr ? chosen : &unit;
    }
    if (chosen == nullptr) {
        result.problem = std::string("No Tarvex ") + (byPath ? "at " : "with the serial number ") +
                         "\"" + key + "\" is connected.";
        return result;
    }
    result.choice = UnitIdentity{chosen->unitIsPlace ? chosen->unit : std::string(),
                                 utf8Text(chosen->serialNumber)};
    result.path = chosen->path;
    return result;
}

} // namespace quorvane
