#include "discovery_messages.h"

#include "tarvex_identity.h"
#include "text_encoding.h"

namespace quorvane {

std::string unitsText(const std::vector<EnumeratedInterface>& units) {
    std::string list;
    for (const EnumeratedInterface& unit : units) {
        list += (list.empty() ? "" : ", ") + idsText(unit.VendorID, unit.ProductID);
        if (!unit.Product.empty())
            list += " \"" + utf8Text(unit.Product) + "\"";
    }
    return list;
}

std::string severalUnitsMessage(const std::vector<EnumeratedInterface>& units) {
    return "More than one Tarvex is connected (" + unitsText(units) +
           "). Connect only the Tarvex you want to update, then try again.";
}

std::string unreadableMessage(const std::string& path, const std::string& cause) {
    return "A Tarvex is connected (" + path + "), but it could not be read" +
           (cause.empty() ? "" : " (the system said: " + cause + ")") +
           ". Unplug it and plug it in again, then try again.";
}

std::string noTarvexMessage(const Findings& f) {
    if (!f.accessDeniedPath.empty())
        return deniedAccessAdvice(ThisSystem, f.accessDeniedPath, false);
    if (!f.unreadablePath.empty())
        return unreadableMessage(f.unreadablePath, f.unreadableCause);
    return MessageNoTarvex;
}

std::string ambiguousUnitsMessage(const UnitIdentity& target,
                                  const std::vector<EnumeratedInterface>& units) {
    const std::string who = target.SerialNumber.empty()
                                ? std::string("the Tarvex being updated")
                                : "the serial number " + target.SerialNumber;
    return "Two units answer to " + who + " (" + unitsText(units) +
           "), and this system does not tell where each is plugged, so they cannot be told "
           "apart; nothing more was sent. Leave only the Tarvex being updated connected.";
}

std::string notBackYetMessage() {
    return "The Tarvex has not come back yet. The program goes on waiting for it. If it does not "
           "come back, unplug it and plug it in again: the update can be run again from its "
           "bootloader.";
}

std::string notBackMessage(std::int64_t limitMs) {
    return "The Tarvex did not come back within " + std::to_string(limitMs / 1000) +
           " seconds. Unplug it and plug it in again: the update can be run again from its "
           "bootloader.";
}

std::string deniedAccessAdvice(HostSystem system, const std::string& path, bool commandRunning) {
    const std::string seen = commandRunning ? "The Tarvex is back (" : "A Tarvex is connected (";
    if (system == HostSystem::Windows) {
        // Windows opens HID interfaces to every account; a refusal means another program holds
        // the interface for itself.
        const std::string told = seen + path +
                                 "), but Windows refused access to it: another program is "
                                 "using it. Close the other programs that talk to the Tarvex";
        return told + (commandRunning ? "; the update goes on as soon as it can be opened."
                                      : ", then unplug the Tarvex and plug it in again.");
    }
    const std::string told = seen + path +
                             "), but this account is not allowed to use it. Install the udev "
                             "rule 70-quorvane.rules (the quorvane package installs it; when you "
                             "build quorvane yourself, copy packaging/70-quorvane.rules to "
                             "/etc/udev/rules.d/), then ";
    return told + (commandRunning
                       ? "run \"sudo udevadm trigger\"; the update goes on as soon as the Tarvex "
                         "can be opened."
                       : "unplug the Tarvex and plug it in again.");
}

} // namespace quorvane
