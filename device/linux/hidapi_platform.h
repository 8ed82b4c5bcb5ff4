// The platform backend for Linux and macOS, on hidapi. Feature report lengths come from each
// interface's report descriptor, read through hidapi where it offers that, otherwise (Linux)
// from the hidraw node's entry in sysfs.
#pragma once

#include "ApiDeclarations.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct hid_device_;

namespace quorvane {

class HidapiPlatform final : public HidPlatform {
public:
    HidapiPlatform();
    ~HidapiPlatform() override;

    std::vector<std::string> enumerateInterfaces() override;
    std::optional<EnumeratedInterface> enumerated(const std::string& path) override;
    OpenResult open(const std::string& path, OpenMode mode) override;
    bool close(RawHandle handle) override;
    bool getAttributes(RawHandle handle, HidAttributes& attributes) override;
    bool getCapabilities(RawHandle handle, HidCapabilities& capabilities) override;
    bool setFeature(RawHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    bool getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) override;
    ReportFailure lastReportFailure() const override { return lastFailure_; }
    std::size_t maxReportLength() const override;
    bool getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                   std::size_t length) override;
    void sleep(int milliseconds) override;
    std::int64_t nowMs() override;

private:
    struct DeviceCloser {
        void operator()(hid_device_* device) const;
    };
    struct OpenInterface {
        std::unique_ptr<hid_device_, DeviceCloser> device;
        std::string path;
    };

    // The open interface behind a handle, or nullptr for a handle this backend never issued or
    // has already closed.
    OpenInterface* find(RawHandle handle);
    // Notes why a feature report failed, from the errno the ioctl left; returns `succeeded`.
    bool noteFailure(bool succeeded);

    bool initialised_ = false;
    std::map<RawHandle, OpenInterface> handles_;
    // What the last enumeration listed, by path.
    std::map<std::string, EnumeratedInterface> enumerated_;
    ReportFailure lastFailure_ = ReportFailure::Refused;
    RawHandle nextHandle_ = 1;
};

} // namespace quorvane
