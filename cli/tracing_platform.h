// -v: every platform call of a command with its result, and every report sent and read byte
// for byte, written as it happens, so that a user can hand support an exact trace.
#pragma once

#include "forwarding_platform.h"

#include <mutex>
#include <ostream>

namespace quorvane {

class TracingPlatform final : public ForwardingPlatform {
public:
    TracingPlatform(HidPlatform& inner, std::ostream& out) : ForwardingPlatform(inner), out_(out) {}

    std::vector<EnumeratedInterface> enumerateInterfaces() override;
    OpenResult open(const std::string& path, OpenMode mode) override;
    CallResult close(RawHandle h) override;
    CallResult getAttributes(RawHandle h, HidAttributes& a) override;
    CallResult getCapabilities(RawHandle h, HidCapabilities& c) override;
    CallResult setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override;
    CallResult getFeature(RawHandle h, std::uint8_t* b, std::size_t n) override;
    CallResult getString(RawHandle h, StringKind k, std::uint8_t* b, std::size_t n) override;
    void sleep(int ms) override;

private:
    std::ostream& line(const char* call);
    // "ok", or `failure` with the system's error of the call when it gave one.
    static std::string outcome(bool ok, const SystemError& error, const char* failure);
    std::mutex mutex_; // one call's lines together, whichever thread made it
    std::ostream& out_;
};

} // namespace quorvane
