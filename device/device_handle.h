// A handle of the device state: it closes itself when it is replaced or goes away, knows
// whether it is open, and closes nothing twice.
#pragma once

#include "ApiDeclarations.h"

#include <optional>
#include <utility>

namespace quorvane {

class DeviceHandle {
public:
    DeviceHandle() = default;
    // Takes what an open on `api` returned; a failed open leaves it closed.
    DeviceHandle(HidPlatform& api, const OpenResult& opened)
        : api_(opened.handle != 0 ? &api : nullptr), raw_(opened.handle) {}
    DeviceHandle(HidPlatform& api, const std::string& path, OpenMode mode)
        : DeviceHandle(api, api.open(path, mode)) {}
    ~DeviceHandle() { close(); }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    DeviceHandle(DeviceHandle&& other) noexcept
        : api_(std::exchange(other.api_, nullptr)), raw_(std::exchange(other.raw_, 0)) {}
    // Closes what it held, then takes the other's handle.
    DeviceHandle& operator=(DeviceHandle&& other) noexcept {
        if (this != &other) {
            close();
            api_ = std::exchange(other.api_, nullptr);
            raw_ = std::exchange(other.raw_, 0);
        }
        return *this;
    }

    bool isOpen() const { return api_ != nullptr; }
    RawHandle raw() const { return raw_; }

    // Closes the handle if it is open; the platform's result, or nothing when there was
    // nothing to close.
    std::optional<bool> close() noexcept {
        HidPlatform* api = std::exchange(api_, nullptr);
        if (api == nullptr)
            return std::nullopt;
        try {
            return api->close(raw_).ok;
        } catch (...) { // a close that throws leaves the handle closed all the same
            return false;
        }
    }

private:
    HidPlatform* api_ = nullptr;
    RawHandle raw_ = 0;
};

} // namespace quorvane
