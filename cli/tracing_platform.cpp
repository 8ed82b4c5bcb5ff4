#include "tracing_platform.h"

#include "terminal_text.h"
#include "text_encoding.h"

#include <array>
#include <cstdio>

namespace quorvane {

namespace {

std::string hex(std::uint64_t value, int digits) {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "%0*llx", digits,
                  static_cast<unsigned long long>(value));
    return text.data();
}

std::string bytes(const std::uint8_t* b, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i)
        text += (i == 0 ? "" : " ") + hex(b[i], 2);
    return text;
}

const char* failureName(ReportFailure failure) {
    return failure == ReportFailure::DeviceGone ? "device gone" : "refused";
}

} // namespace

std::string TracingPlatform::outcome(bool ok, const char* failure) const {
    if (ok)
        return "ok";
    // What the system said of it, as it said it (a device's own text is the system's too).
    const SystemError error = lastError();
    if (error.text.empty() && error.code == 0)
        return failure;
    return std::string(failure) + ": " + terminalSafe(error.text) + " (" +
           std::to_string(error.code) + ")";
}

std::ostream& TracingPlatform::line(const char* call) {
    return out_ << "[" << ForwardingPlatform::nowMs() << " ms] " << call;
}

std::vector<std::string> TracingPlatform::enumerateInterfaces() {
    std::vector<std::string> paths = ForwardingPlatform::enumerateInterfaces();
    line("enumerate") << " -> " << paths.size() << " interfaces\n";
    for (const std::string& path : paths) {
        out_ << "    " << terminalSafe(path);
        if (const auto listed = enumerated(path))
            out_ << "  " << hex(listed->VendorID, 4) << ':' << hex(listed->ProductID, 4);
        out_ << '\n';
    }
    return paths;
}

OpenResult TracingPlatform::open(const std::string& path, OpenMode mode) {
    const OpenResult r = ForwardingPlatform::open(path, mode);
    line("open") << ' ' << terminalSafe(path)
                 << (mode == OpenMode::Overlapped ? " overlapped" : " plain") << " -> ";
    if (r.handle != 0)
        out_ << "handle " << hex(r.handle, 1) << '\n';
    else
        out_ << outcome(false, r.error == OpenError::AccessDenied ? "failed, access denied"
                               : r.error == OpenError::NotFound   ? "failed, not found"
                                                                  : "failed")
             << '\n';
    return r;
}

bool TracingPlatform::close(RawHandle h) {
    const bool ok = ForwardingPlatform::close(h);
    line("close") << " handle " << hex(h, 1) << " -> " << outcome(ok, "failed") << '\n';
    return ok;
}

bool TracingPlatform::getAttributes(RawHandle h, HidAttributes& a) {
    const bool ok = ForwardingPlatform::getAttributes(h, a);
    line("attributes") << " handle " << hex(h, 1) << " -> " << outcome(ok, "failed");
    if (ok)
        out_ << ": vendor " << hex(a.VendorID, 4) << ", product " << hex(a.ProductID, 4)
             << ", version " << hex(a.VersionNumber, 4);
    out_ << '\n';
    return ok;
}

bool TracingPlatform::getCapabilities(RawHandle h, HidCapabilities& c) {
    const bool ok = ForwardingPlatform::getCapabilities(h, c);
    line("capabilities") << " handle " << hex(h, 1) << " -> " << outcome(ok, "failed");
    if (ok)
        out_ << ": feature report length " << c.FeatureReportByteLength;
    out_ << '\n';
    return ok;
}

bool TracingPlatform::setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) {
    const bool ok = ForwardingPlatform::setFeature(h, b, n);
    line("set feature") << " handle " << hex(h, 1) << ", " << n << " bytes -> "
                        << outcome(ok, failureName(lastReportFailure())) << "\n    " << bytes(b, n)
                        << '\n';
    return ok;
}

bool TracingPlatform::getFeature(RawHandle h, std::uint8_t* b, std::size_t n) {
    const bool ok = ForwardingPlatform::getFeature(h, b, n);
    line("get feature") << " handle " << hex(h, 1) << ", " << n << " bytes -> "
                        << outcome(ok, failureName(lastReportFailure())) << '\n';
    if (ok)
        out_ << "    " << bytes(b, n) << '\n';
    return ok;
}

bool TracingPlatform::getString(RawHandle h, StringKind k, std::uint8_t* b, std::size_t n) {
    const bool ok = ForwardingPlatform::getString(h, k, b, n);
    line("string") << ' '
                   << (k == StringKind::Manufacturer ? "manufacturer"
                       : k == StringKind::Product    ? "product"
                                                     : "serial number")
                   << " handle " << hex(h, 1) << " -> " << outcome(ok, "failed");
    if (ok)
        out_ << ": \"" << terminalSafe(utf8Text(deviceStringText(b, n))) << '"';
    out_ << '\n';
    return ok;
}

void TracingPlatform::sleep(int ms) {
    ForwardingPlatform::sleep(ms);
    line("sleep") << ' ' << ms << " ms\n";
}

} // namespace quorvane
