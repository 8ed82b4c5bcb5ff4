#include "unit_choice.h"

#include "device_info.h"
#include "discovery.h"
#include "null_window.h"
#include "tarvex_identity.h"
#include "text_encoding.h"

#include <algorithm>

namespace quorvane {

std::vector<TarvexListing> listTarvexUnits(HidPlatform& api) {
    std::vector<TarvexListing> units;
    for (const std::string& path : api.enumerateInterfaces()) {
        const auto listed = api.enumerated(path);
        if (listed && !isTarvexProduct(listed->ProductID))
            continue;
        NullWindow window;
        DeviceState s;
        DeviceContext ctx{api, window, s};
        TarvexListing unit;
        unit.path = path;
        unit.unit = listed ? listed->Unit : path;
        unit.unitIsPlace = listed && listed->UnitIsPlace;
        const OpenResult opened = api.open(path, OpenMode::Plain);
        s.HidHandle = DeviceHandle::fromOpen(opened);
        unit.openError = opened.error;
        unit.opened = s.HidHandle.isOpen() && api.getAttributes(s.HidHandle.raw(), s.Attributes);
        if (unit.opened && isTarvexProduct(s.Attributes.ProductID)) {
            unit.attributes = s.Attributes;
            ReadDeviceCaps(ctx);
            unit.capabilities = s.Capabilities;
            s.OverlappedHandle = DeviceHandle::fromOpen(api.open(path, OpenMode::Overlapped));
            for (auto [kind, text] : {std::pair{StringKind::Manufacturer, &unit.manufacturer},
                                      {StringKind::Product, &unit.product},
                                      {StringKind::SerialNumber, &unit.serialNumber}})
                *text = queryDeviceString(ctx, kind).value_or(u"");
            units.push_back(std::move(unit));
        } else if (listed && !unit.opened) { // there, but not to be read
            unit.attributes = {listed->VendorID, listed->ProductID, 0};
            unit.product = listed->Product;
            units.push_back(std::move(unit));
        }
        closeDeviceHandles(ctx);
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
