// The platform backend for Windows: SetupAPI enumerates the present HID interfaces, CreateFileW
// opens them, and the HID class library answers the queries and carries the feature reports.
// Records passed to the platform carry their own sizes (sizeof), so 32- and 64-bit builds both
// work. Paths travel through the program as UTF-8 and reach Windows as UTF-16.
#pragma once

#include "ApiDeclarations.h"
#include "windows_clock.h"

#include <map>
#include <string>

namespace quorvane {

class WindowsPlatform final : public HidPlatform {
public:
    WindowsPlatform() = default;
    ~WindowsPlatform() override;

    std::vector<std::string> enumerateInterfaces() override;
    std::optional<EnumeratedInterface> enumerated(const std::string& path) override;
    OpenResult open(const std::string& path, OpenMode mode) override;
    bool close(RawHandle handle) override;
    bool getAttributes(RawHandle handle, HidAttributes& attributes) override;
    bool getCapabilities(RawHandle handle, HidCapabilities& capabilities) override;
    bool setFeature(RawHandle handle, const std::uint8_t* buffer, std::size_t length) override;
    bool getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) override;
    ReportFailure lastReportFailure() const override;
    SystemError lastError() const override { return lastError_; }
    std::size_t maxReportLength() const override;
    bool getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                   std::size_t length) override;
    void sleep(int milliseconds) override;
    std::int64_t nowMs() override;

    WindowsClock::Method sleepMethod() const { return clock_.method(); }

private:
    // The handle as Windows knows it, when this backend opened it and has not closed it yet.
    void* find(RawHandle handle) const;
    // Keeps `code` (from GetLastError(); 0: no reason given) as the last failure's; false.
    bool failed(unsigned long code);
    // A feature report on `handle` failed with `code`: kept, and classified by looking again:
    // an interface that cannot be opened by its path a moment later has left the bus; one that
    // can refused the report (Windows reports a stall and an unplug alike). Returns false.
    bool reportFailed(RawHandle handle, unsigned long code);

    std::map<RawHandle, std::wstring> open_; // the handles this backend holds, with their paths
    // Where the last enumeration found each interface's USB device plugged, where it could.
    std::map<std::string, std::string> places_;
    ReportFailure lastFailure_ = ReportFailure::Refused;
    SystemError lastError_;
    WindowsClock clock_;
};

} // namespace quorvane
