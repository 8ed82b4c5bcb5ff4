// A platform that hands every operation to another one: a base for backends that watch or
// change a few operations of the real one (timing in the benchmark, a backend's limits in tests).
#pragma once

#include "ApiDeclarations.h"

namespace quorvane {

class ForwardingPlatform : public HidPlatform {
public:
    explicit ForwardingPlatform(HidPlatform& inner) : inner_(inner) {}

    std::vector<std::string> enumerateInterfaces() override { return inner_.enumerateInterfaces(); }
    std::optional<EnumeratedInterface> enumerated(const std::string& path) override {
        return inner_.enumerated(path);
    }
    int changeDescriptor() override { return inner_.changeDescriptor(); }
    bool interfacesChanged() override { return inner_.interfacesChanged(); }
    OpenResult open(const std::string& path, OpenMode mode) override {
        return inner_.open(path, mode);
    }
    bool close(RawHandle h) override { return inner_.close(h); }
    bool getAttributes(RawHandle h, HidAttributes& a) override {
        return inner_.getAttributes(h, a);
    }
    bool getCapabilities(RawHandle h, HidCapabilities& c) override {
        return inner_.getCapabilities(h, c);
    }
    bool setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        return inner_.setFeature(h, b, n);
    }
    bool getFeature(RawHandle h, std::uint8_t* b, std::size_t n) override {
        return inner_.getFeature(h, b, n);
    }
    ReportFailure lastReportFailure() const override { return inner_.lastReportFailure(); }
    SystemError lastError() const override { return inner_.lastError(); }
    std::size_t maxReportLength() const override { return inner_.maxReportLength(); }
    bool getString(RawHandle h, StringKind k, std::uint8_t* b, std::size_t n) override {
        return inner_.getString(h, k, b, n);
    }
    void sleep(int ms) override { inner_.sleep(ms); }
    std::int64_t nowMs() override { return inner_.nowMs(); }

private:
    HidPlatform& inner_;
};

} // namespace quorvane
