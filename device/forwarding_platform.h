// A platform that hands every operation to another one: a base for backends that watch or
// change a few operations of the real one (timing in the benchmark, a backend's limits in tests).
#pragma once

#include "ApiDeclarations.h"

namespace quorvane {

class ForwardingPlatform : public HidPlatform {
public:
    explicit ForwardingPlatform(HidPlatform& inner) : inner_(inner) {}

    std::vector<EnumeratedInterface> enumerateInterfaces() override {
        return inner_.enumerateInterfaces();
    }
    std::unique_ptr<InterfaceWatch> watchInterfaces() override { return inner_.watchInterfaces(); }
    OpenResult open(const std::string& path, OpenMode mode) override {
        return inner_.open(path, mode);
    }
    CallResult close(RawHandle h) override { return inner_.close(h); }
    CallResult getAttributes(RawHandle h, HidAttributes& a) override {
        return inner_.getAttributes(h, a);
    }
    CallResult getCapabilities(RawHandle h, HidCapabilities& c) override {
        return inner_.getCapabilities(h, c);
    }
    CallResult setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) override {
        return inner_.setFeature(h, b, n);
    }
    CallResult getFeature(RawHandle h, std::uint8_t* b, std::size_t n) override {
        return inner_.getFeature(h, b, n);
    }
    std::size_t maxReportLength() const override { return inner_.maxReportLength(); }
    CallResult getString(RawHandle h, StringKind k, std::uint8_t* b, std::size_t n) override {
        return inner_.getString(h, k, b, n);
    }
    void sleep(int ms) override { inner_.sleep(ms); }
    std::int64_t nowMs() override { return inner_.nowMs(); }

private:
    HidPlatform& inner_;
};

} // namespace quorvane
