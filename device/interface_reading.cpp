#include "interface_reading.h"

#include "tarvex_identity.h"

namespace quorvane {

bool mayBeTarvex(const EnumeratedInterface& listed) {
    return listed.ProductID == 0 || isTarvexProduct(listed.ProductID);
}

OpenedInterface openInterface(HidPlatform& api, const EnumeratedInterface& listed) {
    OpenedInterface i;
    i.listed = listed;
    const OpenResult opened = api.open(listed.Path, OpenMode::Plain);
    i.handle = DeviceHandle(api, opened);
    i.openError = opened.error;
    i.openCause = opened.cause;
    i.attributes = {listed.VendorID, listed.ProductID, 0};
    if (!i.handle.isOpen())
        return i;
    HidAttributes read;
    const CallResult r = api.getAttributes(i.handle.raw(), read);
    i.attributesRead = r.ok;
    if (r.ok)
        i.attributes = read;
    else
        i.attributesCause = r.error;
    return i;
}

} // namespace quorvane
