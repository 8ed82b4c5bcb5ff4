// The platform backend for Windows: SetupAPI enumerates the present HID interfaces, CreateFileW
// opens them, and the HID class library answers the queries and carries the feature reports.
// Records passed to the platform carry their own sizes (sizeof), so 32- and 64-bit builds both
// work. Paths travel through the program as UTF-8 and reach Windows as UTF-16.
#pragma once

#include "ApiDeclarations.h"
#include "windows_clock.h"

#include <map>
#include <mutex>
#include <string>

namespace quorvane {

class WindowsPlatform final : public HidPlatform {
public:
    WindowsPlatform() = default;
    ~WindowsPlatform() override;

    std::vector<EnumeratedInterface> enumerateInterfaces() override;
    OpenResult open(const std::string& path, OpenMode mode) override;
    CallResult close(RawHandle handle) override;
    CallResult getAttributes(RawHandle handle, HidAttributes& attributes) override;
    CallResult getCapabilities(RawHandle handle, HidCapabilities& capabilities) override;
    CallResult setFeature(RawHandle handle, const std::uint8_t* buffer,
                          std::size_t length) override;
    CallResult getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) override;
    std::size_t maxReportLength() const override;
    CallResult getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                         std::size_t length) override;
    void sleep(int milliseconds) override;
    std::int64_t nowMs() override;

    WindowsClock::Method sleepMethod() const { return clock_.method(); }

private:
    // The handle as Windows knows it, when this backend opened it and has not closed it yet.
    void* find(RawHandle handle) const;
    // A feature report on `handle` failed with `code` (from GetLastError(); 0: no reason
    // given), classified by looking again: an interface that cannot be opened by its path a
    // moment later has left the bus; one that can refused the report (Windows reports a stall
    // and an unplug alike).
    CallResult reportFailed(RawHandle handle, unsigned long code);

    mutable std::mutex mutex_;               // the handle table is shared between threads
    std::map<RawHandle, std::wstring> open_; // the handles this backend holds, with their paths
    WindowsClock clock_;
};

} // namespace quorvane
