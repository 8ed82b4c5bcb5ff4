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

std::string TracingPlatform::outcome(bool ok, const SystemError& error, const char* failure) {
    if (ok)
        return "ok";
    // What the system said of it, as it said it (a device's own text is the system's too).
    if (error.text.empty() && error.code == 0)
        return failure;
    return std::string(failure) + ": " + terminalSafe(error.text) + " (" +
           std::to_string(error.code) + ")";
}

std::ostream& TracingPlatform::line(const char* call) {
    return out_ << "[" << ForwardingPlatform::nowMs() << " ms] " << call;
}

std::vector<EnumeratedInterface> TracingPlatform::enumerateInterfaces() {
    std::vector<EnumeratedInterface> listed = ForwardingPlatform::enumerateInterfaces();
    const std::lock_guard lock(mutex_);
    line("enumerate") << " -> " << listed.size() << " interfaces\n";
    for (const EnumeratedInterface& i : listed)
        out_ << "    " << terminalSafe(i.Path) << "  " << hex(i.VendorID, 4) << ':'
             << hex(i.ProductID, 4) << '\n';
    return listed;
}

OpenResult TracingPlatform::open(const std::string& path, OpenMode mode) {
    OpenResult r = ForwardingPlatform::open(path, mode);
    const std::lock_guard lock(mutex_);
    line("open") << ' ' << terminalSafe(path)
                 << (mode == OpenMode::Overlapped ? " overlapped" : " plain") << " -> ";
    if (r.handle != 0)
        out_ << "handle " << hex(r.handle, 1) << '\n';
    else
        out_ << outcome(false, r.cause,
                        r.error == OpenError::AccessDenied ? "failed, access denied"
                        : r.error == OpenError::NotFound   ? "failed, not found"
                                                           : "failed")
             << '\n';
    return r;
}

CallResult TracingPlatform::close(RawHandle h) {
    CallResult r = ForwardingPlatform::close(h);
    const std::lock_guard lock(mutex_);
    line("close") << " handle " << hex(h, 1) << " -> " << outcome(r.ok, r.error, "failed") << '\n';
    return r;
}

CallResult TracingPlatform::getAttributes(RawHandle h, HidAttributes& a) {
    CallResult r = ForwardingPlatform::getAttributes(h, a);
    const std::lock_guard lock(mutex_);
    line("attributes") << " handle " << hex(h, 1) << " -> " << outcome(r.ok, r.error, "failed");
    if (r.ok)
        out_ << ": vendor " << hex(a.VendorID, 4) << ", product " << hex(a.ProductID, 4)
             << ", version " << hex(a.VersionNumber, 4);
    out_ << '\n';
    return r;
}

CallResult TracingPlatform::getCapabilities(RawHandle h, HidCapabilities& c) {
    CallResult r = ForwardingPlatform::getCapabilities(h, c);
    const std::lock_guard lock(mutex_);
    line("capabilities") << " handle " << hex(h, 1) << " -> " << outcome(r.ok, r.error, "failed");
    if (r.ok)
        out_ << ": feature report length " << c.FeatureReportByteLength;
    out_ << '\n';
    return r;
}

CallResult TracingPlatform::setFeature(RawHandle h, const std::uint8_t* b, std::size_t n) {
    CallResult r = ForwardingPlatform::setFeature(h, b, n);
    const std::lock_guard lock(mutex_);
    line("set feature") << " handle " << hex(h, 1) << ", " << n << " bytes -> "
                        << outcome(r.ok, r.error, failureName(r.failure)) << "\n    " << bytes(b, n)
                        << '\n';
    return r;
}

CallResult TracingPlatform::getFeature(RawHandle h, std::uint8_t* b, std::size_t n) {
    CallResult r = ForwardingPlatform::getFeature(h, b, n);
    const std::lock_guard lock(mutex_);
    line("get feature") << " handle " << hex(h, 1) << ", " << n << " bytes -> "
                        << outcome(r.ok, r.error, failureName(r.failure)) << '\n';
    if (r.ok)
        out_ << "    " << bytes(b, n) << '\n';
    return r;
}

CallResult TracingPlatform::getString(RawHandle h, StringKind k, std::uint8_t* b, std::size_t n) {
    CallResult r = ForwardingPlatform::getString(h, k, b, n);
    const std::lock_guard lock(mutex_);
    line("string") << ' '
                   << (k == StringKind::Manufacturer ? "manufacturer"
                       : k == StringKind::Product    ? "product"
                                                     : "serial number")
                   << " handle " << hex(h, 1) << " -> " << outcome(r.ok, r.error, "failed");
    if (r.ok)
        out_ << ": \"" << terminalSafe(utf8Text(deviceStringText(b, n))) << '"';
    out_ << '\n';
    return r;
}

void TracingPlatform::sleep(int ms) {
    ForwardingPlatform::sleep(ms);
    const std::lock_guard lock(mutex_);
    line("sleep") << ' ' << ms << " ms\n";
}

} // namespace quorvane
