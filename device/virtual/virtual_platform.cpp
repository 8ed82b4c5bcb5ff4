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
    return static_cast<int>(std::count_if(handles_.begin(), handles_.end(),
                                          [](const auto& h) { return h.second.open; }));
}

bool VirtualPlatform::failed(SystemError error) {
    lastError_ = std::move(error);
    return false;
}

bool VirtualPlatform::reportFailed(const HandleInfo* info, const SystemError& error) {
    failed(error);
    lastFailure_ = ReportFailure::Refused;
    if (info == nullptr || !info->tarvex)
        return false;
    for (int waited = 0;; waited += GoneCheckPollMs) {
        tarvex_.advance(clock_.nowMs());
        if (!tarvexAttached || !tarvex_.present() || tarvex_.generation() != info->generation) {
            lastFailure_ = ReportFailure::DeviceGone;
            return false;
        }
        if (waited >= GoneCheckMs)
            return false;
        clock_.sleep(GoneCheckPollMs); // the backend's own wait, not a pause of the program
    }
}

VirtualPlatform::HandleInfo* VirtualPlatform::live(RawHandle handle, const char* operation) {
    lastFailure_ = ReportFailure::Refused;
    auto it = handles_.find(handle);
    if (it == handles_.end() || !it->second.open) {
        misuse_.push_back(std::string(operation) + " on closed handle " + std::to_string(handle));
        failed({});
        return nullptr;
    }
    HandleInfo& info = it->second;
    if (info.tarvex) {
        tarvex_.advance(clock_.nowMs());
        if (!tarvexAttached || !tarvex_.present() || tarvex_.generation() != info.generation) {
            lastFailure_ = ReportFailure::DeviceGone; // the device left the bus
            failed(NoSuchDevice);
            return nullptr;
        }
    }
    return &info;
}

std::vector<std::string> VirtualPlatform::listedNow() {
    tarvex_.advance(clock_.nowMs());
    std::vector<std::string> paths;
    // The Tarvex's sibling collections come and go with it.
    const bool onBus = tarvexAttached && tarvex_.present();
    auto list = [&](const std::vector<ForeignInterface>& interfaces) {
        for (const auto& f : interfaces)
            if (onBus || f.unit != TarvexUnit)
                paths.push_back(f.path);
    };
    list(foreignBefore);
    if (onBus)
        paths.push_back(tarvexPath());
    list(foreignAfter);
    return paths;
}

std::vector<std::string> VirtualPlatform::enumerateInterfaces() {
    tarvex_.advance(clock_.nowMs());
    auto& r = record(CallKind::Enumerate, 0);
    if (failEnumeration)
        return {};
    r.result = true;
    return listedNow();
}

bool VirtualPlatform::interfacesChanged() {
    // Watching opens nothing and leaves no call in the log.
    std::vector<std::string> listed = listedNow();
    return std::exchange(listedLast_, listed) != listed;
}

std::optional<EnumeratedInterface> VirtualPlatform::enumerated(const std::string& path) {
    // Read from the interfaces as they are now, without a call of its own in the log: it
    // opens nothing.
    if (const ForeignInterface* f = findForeign(path))
        return EnumeratedInterface{f->attributes.VendorID, f->attributes.ProductID, f->product,
                                   f->unit.empty() ? f->path : f->unit, f->unitIsPlace};
    tarvex_.advance(clock_.nowMs());
    if (!tarvexAttached || !tarvex_.present() || path != tarvexPath())
        return std::nullopt;
    const TarvexPersonality& p = tarvex_.personality();
    return EnumeratedInterface{p.vendorId, p.productId, p.product, TarvexUnit, tarvexUnitIsPlace};
}

OpenResult VirtualPlatform::open(const std::string& path, OpenMode mode) {
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
            failed(f->openError == OpenError::AccessDenied ? PermissionDenied
                   : f->openError == OpenError::NotFound   ? NoSuchFile
                                                           : IoError);
            return result;
        }
        info.foreign = f;
    } else if (tarvexAttached && tarvex_.present() && path == tarvexPath()) {
        const auto& faults = tarvex_.config().faults;
        if (faults.failOpen || (mode == OpenMode::Overlapped && faults.failOverlappedOpen)) {
            result.error = OpenError::Other;
            failed(IoError);
            return result;
        }
        if (faults.deniedInBootloader && tarvex_.mode() == TarvexMode::Bootloader) {
            result.error = OpenError::AccessDenied;
            failed(PermissionDenied);
            return result;
        }
        info.tarvex = true;
        info.generation = tarvex_.generation();
        r.tarvex = true;
    } else {
        result.error = OpenError::NotFound;
        failed(NoSuchFile);
        return result;
    }
    result.handle = nextHandle_++;
    handles_[result.handle] = info;
    r.handle = result.handle;
    r.result = true;
    return result;
}

bool VirtualPlatform::close(RawHandle handle) {
    auto& r = record(CallKind::Close, handle);
    auto it = handles_.find(handle);
    if (it == handles_.end() || !it->second.open) {
        misuse_.push_back("close of closed handle " + std::to_string(handle));
        return failed({});
    }
    it->second.open = false;
    r.result = true;
    return true;
}

bool VirtualPlatform::getAttributes(RawHandle handle, HidAttributes& attributes) {
    auto& r = record(CallKind::GetAttributes, handle);
    HandleInfo* info = live(handle, "attributes");
    r.reached = info != nullptr;
    if (!info)
        return false;
    if (info->foreign) {
        attributes = info->foreign->attributes;
    } else {
        if (tarvex_.config().faults.failAttributes)
            return failed(IoError);
        const auto& p = tarvex_.personality();
        attributes = {p.vendorId, p.productId, p.version};
    }
    r.result = true;
    return true;
}

bool VirtualPlatform::getCapabilities(RawHandle handle, HidCapabilities& capabilities) {
    auto& r = record(CallKind::GetCapabilities, handle);
    HandleInfo* info = live(handle, "capabilities");
    r.reached = info != nullptr;
    if (!info)
        return false;
    if (info->foreign) {
        capabilities.FeatureReportByteLength = info->foreign->featureReportByteLength;
    } else {
        if (tarvex_.config().faults.failCapabilities)
            return failed(IoError);
        capabilities.FeatureReportByteLength = tarvex_.personality().featureReportByteLength;
    }
    r.result = true;
    return true;
}

bool VirtualPlatform::setFeature(RawHandle handle, const std::uint8_t* buffer, std::size_t length) {
    auto& r = record(CallKind::SetFeature, handle);
    r.bytes.assign(buffer, buffer + length);
    r.length = length;
    HandleInfo* info = live(handle, "set feature");
    r.reached = info != nullptr;
    if (!info)
        return false;
    if (info->foreign) {
        r.result = length == info->foreign->featureReportByteLength;
        return r.result || reportFailed(nullptr, BrokenPipe);
    }
    r.result = tarvex_.setFeature(clock_.nowMs(), buffer, length);
    if (!r.result)
        return reportFailed(info, tarvex_.lastReportLost() ? ProtocolError : BrokenPipe);
    return true;
}

bool VirtualPlatform::getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) {
    auto& r = record(CallKind::GetFeature, handle);
    r.length = length;
    HandleInfo* info = live(handle, "get feature");
    r.reached = info != nullptr;
    if (!info)
        return false;
    std::vector<std::uint8_t> reply(length);
    r.result = !info->foreign && length > 0 && tarvex_.getFeature(buffer, reply.data(), length);
    if (r.result)
        std::copy(reply.begin(), reply.end(), buffer);
    r.bytes.assign(buffer, buffer + length);
    return r.result || reportFailed(nullptr, BrokenPipe);
}

bool VirtualPlatform::getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                                std::size_t length) {
    auto& r = record(CallKind::GetString, handle);
    r.stringKind = kind;
    r.length = length;
    HandleInfo* info = live(handle, "get string");
    r.reached = info != nullptr;
    if (!info)
        return false;
    std::u16string text;
    if (info->foreign) {
        const auto* f = info->foreign;
        text = kind == StringKind::Manufacturer ? f->manufacturer
               : kind == StringKind::Product    ? f->product
                                                : f->serialNumber;
    } else if (!tarvex_.getString(kind, text)) {
        return failed(IoError);
    }
    writeUtf16(text, buffer, length);
    r.result = true;
    return true;
}

void VirtualPlatform::sleep(int milliseconds) {
    auto& r = record(CallKind::Sleep, 0);
    r.sleepMs = milliseconds;
    r.result = true;
    clock_.sleep(milliseconds);
    tarvex_.advance(clock_.nowMs());
    if (onSleep)
        onSleep(clock_.nowMs());
}

} // namespace quorvane
