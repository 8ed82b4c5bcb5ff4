// A handle field of the device state: it knows whether it holds an open handle, so closing a
// field that is already closed does nothing and no handle is ever closed twice.
#pragma once

#include "ApiDeclarations.h"

#include <optional>

namespace quorvane {

class DeviceHandle {
public:
    DeviceHandle() = default;

    // Takes what an open returned; a failed open leaves the field closed.
    static DeviceHandle fromOpen(const OpenResult& result) {
        DeviceHandle h;
        h.raw_ = result.handle;
        h.open_ = result.handle != 0;
        return h;
    }

    bool isOpen() const { return open_; }
    RawHandle raw() const { return raw_; }

    // Closes the handle if it is open and marks it closed; returns the platform's result, or
    // nothing when there was nothing to close.
    std::optional<bool> close(HidPlatform& api) {
        if (!open_)
            return std::nullopt;
        open_ = false;
        return api.close(raw_);
    }

private:
    RawHandle raw_ = 0;
    bool open_ = false;
};

} // namespace quorvane
