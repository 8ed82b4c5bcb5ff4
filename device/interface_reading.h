// One HID interface opened and its attributes read: the walk that discovery, the listing of the
// Tarvex units and the listing of every interface share.
#pragma once

#include "ApiDeclarations.h"
#include "device_handle.h"

#include <string>

namespace quorvane {

struct OpenedInterface {
    EnumeratedInterface listed;
    DeviceHandle handle; // open when the open succeeded
    OpenError openError = OpenError::None;
    SystemError openCause;
    // Read on the open handle; else what the enumeration told (version 0).
    bool attributesRead = false;
    HidAttributes attributes;
    SystemError attributesCause; // why they could not be read, when it opened
};

// A Tarvex in either mode by the enumeration, or an interface whose product it does not tell.
bool mayBeTarvex(const EnumeratedInterface& listed);

// Opens `listed` plainly and reads its attributes.
OpenedInterface openInterface(HidPlatform& api, const EnumeratedInterface& listed);

} // namespace quorvane
