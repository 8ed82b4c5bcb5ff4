#include "virtual_platform.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quorvane {

namespace {

// Writes `text` as zero-terminated UTF-16LE into at most `length` bytes, cutting it where the
// buffer ends (as HID string queries do).
void writeUtf16(const std::u16string& text, std::uint8_t* buffer, std::size_t length) {
    std::size_t at = 0;
    for (char16_t unit : text) {
        if (at + 2 > length)
            return;
        buffer[at++] = static_cast<std::uint8_t>(unit & 0xFF);
        buffer[at++] = static_cast<std::uint8_t>(unit >> 8);
    }
    if (at + 2 <= length) {
        buffer[at] = 0;
        buffer[at + 1] = 0;
    }
}

// The virtual Tarvex's failures in the words of Linux's hidraw stack, errno and all.
const SystemError BrokenPipe{32, "Broken pipe"}; // a stalled request: the device refused it
const SystemError NoSuchDevice{19, "No such device"};
const SystemError ProtocolError{71, "Protocol error"}; // a transfer lost on the way
const SystemError IoError{5, "Input/output error"};
const SystemError PermissionDenied{13, "Permission denied"};
const SystemError NoSuchFile{2, "No such file or directory"};

const CallResult Succeeded{true, {}};

} // namespace

VirtualPlatform::VirtualPlatform(Clock& clock, TarvexConfig config)
    : clock_(clock), tarvex_(std::move(config)) {}

std::string VirtualPlatform::tarvexPath() const {
    return "virtual:tarvex/" + std::to_string(tarvex_.generation());
}

const ForeignInterface* VirtualPlatform::findForeign(const std::string& path) const {
    for (const auto* list : {&foreignBefore, &foreignAfter})
        for (const auto& f : *list)
            if (f.path == path)
                return &f;
    return nullptr;
}

CallRecord& VirtualPlatform::record(CallKind kind, RawHandle handle) {
    CallRecord r;
    r.kind = kind;
    r.time = clock_.nowMs();
    r.handle = handle;
    if (auto it = handles_.find(handle); it != handles_.end()) {
        r.path = it->second.path;
        r.tarvex = it->second.tarvex;
    }
    r.tarvexMode = tarvex_.mode();
    r.tarvexReportLength = tarvex_.personality().featureReportByteLength;
    if (!keepLog) {
        scratch_ = std::move(r);
        return scratch_;
    }
    log_.push_back(std::move(r));
    return log_.back();
}

int VirtualPlatform::openHandles() const {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(handles_.begin(), handles_.end(),
                                          [](const auto& h) { return h.second.open; }));
}

CallResult VirtualPlatform::reportFailed(const HandleInfo* info, const SystemError& error) {
    CallResult failed{false, error, ReportFailure::Refused};
    if (info == nullptr || !info->tarvex)
        return failed;
    for (int waited = 0;; waited += GoneCheckPollMs) {
        tarvex_.advance(clock_.nowMs());
        if (!tarvexAttached || !tarvex_.present() || tarvex_.generation() != info->generation) {
            failed.failure = ReportFailure::DeviceGone;
            return failed;
        }
        if (waited >= GoneCheckMs)
            return failed;
        clock_.sleep(GoneCheckPollMs); // the backend's own wait, not a pause of the program
    }
}

VirtualPlatform::HandleInfo* VirtualPlatform::live(RawHandle handle, const char* operation,
                                                   CallResult& failure) {
    auto it = handles_.find(handle);
    if (it == handles_.end() || !it->second.open) {
        misuse_.push_back(std::string(operation) + " on closed handle " + std::to_string(handle));
        failure = {};
        return nullptr;
    }
    HandleInfo& info = it->second;
    if (info.tarvex) {
        tarvex_.advance(clock_.nowMs());
        if (!tarvexAttached || !tarvex_.present() || tarvex_.generation() != info.generation) {
            failure = {false, NoSuchDevice, ReportFailure::DeviceGone}; // it left the bus
            return nullptr;
        }
    }
    return &info;
}

std::vector<EnumeratedInterface> VirtualPlatform::listedNow() {
    tarvex_.advance(clock_.nowMs());
    std::vector<EnumeratedInterface> listed;
    // The Tarvex's sibling collections come and go with it.
    const bool onBus = tarvexAttached && tarvex_.present();
    auto list = [&](const std::vector<ForeignInterface>& interfaces) {
        for (const auto& f : interfaces)
            if (onBus || f.unit != TarvexUnit)
                listed.push_back({f.path, f.attributes.VendorID, f.attributes.ProductID, f.product,
                                  f.unit.empty() ? f.path : f.unit, f.unitIsPlace});
    };
    list(foreignBefore);
    if (onBus) {
        const TarvexPersonality& p = tarvex_.personality();
        listed.push_back(
            {tarvexPath(), p.vendorId, p.productId, p.product, TarvexUnit, tarvexUnitIsPlace});
    }
    list(foreignAfter);
    return listed;
}

std::vector<EnumeratedInterface> VirtualPlatform::enumerateInterfaces() {
    const std::lock_guard lock(mutex_);
    tarvex_.advance(clock_.nowMs());
    auto& r = record(CallKind::Enumerate, 0);
    if (failEnumeration)
        return {};
    r.result = true;
    return listedNow();
}

namespace {

// Compares what the bus lists now with what it listed when last asked; opens nothing and
// leaves no call in the log.
class VirtualWatch final : public InterfaceWatch {
public:
    explicit VirtualWatch(std::function<std::vector<std::string>()> listed)
        : listed_(std::move(listed)), last_(listed_()) {}
    bool changed() override {
        std::vector<std::string> now = listed_();
        return std::exchange(last_, now) != now;
    }

private:
    std::function<std::vector<std::string>()> listed_;
    std::vector<std::string> last_;
};

} // namespace

std::unique_ptr<InterfaceWatch> VirtualPlatform::watchInterfaces() {
    return std::make_unique<VirtualWatch>([this] {
        const std::lock_guard lock(mutex_);
        std::vector<std::string> paths;
        for (const EnumeratedInterface& i : listedNow())
            paths.push_back(i.Path);
        return paths;
    });
}

OpenResult VirtualPlatform::open(const std::string& path, OpenMode mode) {
    const std::lock_guard lock(mutex_);
    tarvex_.advance(clock_.nowMs());
    auto& r = record(CallKind::Open, 0);
    r.path = path;
    r.mode = mode;
    HandleInfo info;
    info.path = path;
    OpenResult result;
    if (const ForeignInterface* f = findForeign(path)) {
        if (!f->openable) {
            result.error = f->openError;
            result.cause = f->openError == OpenError::AccessDenied ? PermissionDenied
                           : f->openError == OpenError::NotFound   ? NoSuchFile
                                                                   : IoError;
            return result;
        }
        info.foreign = f;
    } else if (tarvexAttached && tarvex_.present() && path == tarvexPath()) {
        const auto& faults = tarvex_.config().faults;
        if (faults.failOpen || (mode == OpenMode::Overlapped && faults.failOverlappedOpen)) {
            result.error = OpenError::Other;
            result.cause = IoError;
            return result;
        }
        if (faults.deniedInBootloader && tarvex_.mode() == TarvexMode::Bootloader) {
            result.error = OpenError::AccessDenied;
            result.cause = PermissionDenied;
            return result;
        }
        info.tarvex = true;
        info.generation = tarvex_.generation();
        r.tarvex = true;
    } else {
        result.error = OpenError::NotFound;
        result.cause = NoSuchFile;
        return result;
    }
    result.handle = nextHandle_++;
    handles_[result.handle] = info;
    r.handle = result.handle;
    r.result = true;
    return result;
}

CallResult VirtualPlatform::close(RawHandle handle) {
    const std::lock_guard lock(mutex_);
    auto& r = record(CallKind::Close, handle);
    auto it = handles_.find(handle);
    if (it == handles_.end() || !it->second.open) {
        misuse_.push_back("close of closed handle " + std::to_string(handle));
        return {};
    }
    it->second.open = false;
    r.result = true;
    return Succeeded;
}

CallResult VirtualPlatform::getAttributes(RawHandle handle, HidAttributes& attributes) {
    const std::lock_guard lock(mutex_);
    auto& r = record(CallKind::GetAttributes, handle);
    CallResult failure;
    HandleInfo* info = live(handle, "attributes", failure);
    r.reached = info != nullptr;
    if (!info)
        return failure;
    if (info->foreign) {
        attributes = info->foreign->attributes;
    } else {
        if (tarvex_.config().faults.failAttributes)
            return {false, IoError};
        const auto& p = tarvex_.personality();
        attributes = {p.vendorId, p.productId, p.version};
    }
    r.result = true;
    return Succeeded;
}

CallResult VirtualPlatform::getCapabilities(RawHandle handle, HidCapabilities& capabilities) {
    const std::lock_guard lock(mutex_);
    auto& r = record(CallKind::GetCapabilities, handle);
    CallResult failure;
    HandleInfo* info = live(handle, "capabilities", failure);
    r.reached = info != nullptr;
    if (!info)
        return failure;
    if (info->foreign) {
        capabilities.FeatureReportByteLength = info->foreign->featureReportByteLength;
    } else {
        if (tarvex_.config().faults.failCapabilities)
            return {false, IoError};
        capabilities.FeatureReportByteLength = tarvex_.personality().featureReportByteLength;
    }
    r.result = true;
    return Succeeded;
}

CallResult VirtualPlatform::setFeature(RawHandle handle, const std::uint8_t* buffer,
                                       std::size_t length) {
    const std::lock_guard lock(mutex_);
    auto& r = record(CallKind::SetFeature, handle);
    r.bytes.assign(buffer, buffer + length);
    r.length = length;
    CallResult failure;
    HandleInfo* info = live(handle, "set feature", failure);
    r.reached = info != nullptr;
    if (!info)
        return failure;
    if (info->foreign) {
        r.result = length == info->foreign->featureReportByteLength;
        return r.result ? Succeeded : reportFailed(nullptr, BrokenPipe);
    }
    r.result = tarvex_.setFeature(clock_.nowMs(), buffer, length);
    if (!r.result)
        return reportFailed(info, tarvex_.lastReportLost() ? ProtocolError : BrokenPipe);
    return Succeeded;
}

CallResult VirtualPlatform::getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) {
    const std::lock_guard lock(mutex_);
    auto& r = record(CallKind::GetFeature, handle);
    r.length = length;
    CallResult failure;
    HandleInfo* info = live(handle, "get feature", failure);
    r.reached = info != nullptr;
    if (!info)
        return failure;
    std::vector<std::uint8_t> reply(length);
    r.result = !info->foreign && length > 0 && tarvex_.getFeature(buffer, reply.data(), length);
    if (r.result)
        std::copy(reply.begin(), reply.end(), buffer);
    r.bytes.assign(buffer, buffer + length);
    return r.result ? Succeeded : reportFailed(nullptr, BrokenPipe);
}

CallResult VirtualPlatform::getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                                      std::size_t length) {
    const std::lock_guard lock(mutex_);
    auto& r = record(CallKind::GetString, handle);
    r.stringKind = kind;
    r.length = length;
    CallResult failure;
    HandleInfo* info = live(handle, "get string", failure);
    r.reached = info != nullptr;
    if (!info)
        return failure;
    std::u16string text;
    if (info->foreign) {
        const auto* f = info->foreign;
        text = kind == StringKind::Manufacturer ? f->manufacturer
               : kind == StringKind::Product    ? f->product
                                                : f->serialNumber;
    } else if (!tarvex_.getString(kind, text)) {
        return {false, IoError};
    }
    writeUtf16(text, buffer, length);
    r.result = true;
    return Succeeded;
}

void VirtualPlatform::sleep(int milliseconds) {
    const std::lock_guard lock(mutex_);
    auto& r = record(CallKind::Sleep, 0);
    r.sleepMs = milliseconds;
    r.result = true;
    clock_.sleep(milliseconds);
    tarvex_.advance(clock_.nowMs());
    if (onSleep)
        onSleep(clock_.nowMs());
}

} // namespace quorvane
