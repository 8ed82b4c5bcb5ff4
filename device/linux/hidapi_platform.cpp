#include "hidapi_platform.h"

#include "device_info.h"
#include "report_descriptor.h"
#include "wide_string.h"

#include <hidapi.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string_view>
#include <thread>

// hidapi grew the calls this backend prefers over time; older versions get the fallbacks.
#if defined(HID_API_VERSION) && defined(HID_API_MAKE_VERSION)
#define QUORVANE_HIDAPI_AT_LEAST(major, minor)                                                     \
    (HID_API_VERSION >= HID_API_MAKE_VERSION(major, minor, 0))
#else
#define QUORVANE_HIDAPI_AT_LEAST(major, minor) 0
#endif

namespace quorvane {

static_assert(sizeof(wchar_t) == sizeof(char32_t), "hidapi strings are expected in UTF-32");

namespace {

// hidapi's wchar_t holds UTF-32 here.
std::u32string codePoints(const wchar_t* text) {
    std::u32string points;
    for (const wchar_t* c = text; *c != 0; ++c)
        points.push_back(static_cast<char32_t>(*c));
    return points;
}

std::u16string utf16Text(const std::u32string& text) {
    std::vector<std::uint8_t> bytes(text.size() * 4 + 2);
    writeUtf16le(text, bytes);
    return deviceStringText(bytes.data(), bytes.size());
}

// The kernel's limit on a report descriptor, which hidapi shares.
constexpr std::size_t MaxDescriptorBytes = 4096;
// USB string descriptors hold at most 126 UTF-16 units and hidraw device names 128 bytes, so
// this holds any string an interface reports, with room for the terminator.
constexpr std::size_t MaxStringChars = 256;

struct EnumerationFree {
    void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};
using Enumeration = std::unique_ptr<hid_device_info, EnumerationFree>;

OpenError openErrorFrom(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return OpenError::AccessDenied;
    case ENOENT:
    case ENODEV:
        return OpenError::NotFound;
    default:
        return OpenError::Other;
    }
}

HidAttributes attributesFrom(const hid_device_info& info) {
    return {info.vendor_id, info.product_id, info.release_number};
}

#if !QUORVANE_HIDAPI_AT_LEAST(0, 13)
// Without a per-device query, the attributes of an open interface are those it enumerates with.
std::optional<HidAttributes> enumeratedAttributes(const std::string& path) {
    const Enumeration list(hid_enumerate(0, 0));
    for (const hid_device_info* info = list.get(); info != nullptr; info = info->next)
        if (info->path != nullptr && path == info->path)
            return attributesFrom(*info);
    return std::nullopt;
}
#endif

#if defined(__linux__)
// The name of the hidraw node a path names (/dev/hidrawN gives hidrawN), or nothing when the
// path names something else.
std::optional<std::string_view> hidrawNodeName(const std::string& path) {
    constexpr std::string_view directory = "/dev/";
    constexpr std::string_view prefix = "hidraw";
    const std::string_view view(path);
    if (!view.starts_with(directory))
        return std::nullopt;
    const std::string_view node = view.substr(directory.size());
    if (node.size() <= prefix.size() || !node.starts_with(prefix) ||
        !std::all_of(node.begin() + static_cast<std::ptrdiff_t>(prefix.size()), node.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return node;
}
#endif

#if !QUORVANE_HIDAPI_AT_LEAST(0, 14) && defined(__linux__)
// A hidraw node /dev/hidrawN publishes its report descriptor at
// /sys/class/hidraw/hidrawN/device/report_descriptor.
struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::optional<std::vector<std::uint8_t>> sysfsReportDescriptor(const std::string& path) {
    const auto node = hidrawNodeName(path);
    if (!node)
        return std::nullopt;
    const std::string file =
        "/sys/class/hidraw/" + std::string(*node) + "/device/report_descriptor";
    const std::unique_ptr<std::FILE, FileClose> stream(std::fopen(file.c_str(), "rb"));
    if (!stream)
        return std::nullopt;
    // One byte more than the limit, to tell a descriptor at the limit from one beyond it.
    std::vector<std::uint8_t> bytes(MaxDescriptorBytes + 1);
    std::size_t read = 0;
    while (read < bytes.size()) {
        const std::size_t n = std::fread(bytes.data() + read, 1, bytes.size() - read, stream.get());
        if (n == 0)
            break;
        read += n;
    }
    if (std::ferror(stream.get()) != 0 || read == 0 || read > MaxDescriptorBytes)
        return std::nullopt;
    bytes.resize(read);
    return bytes;
}
#endif

std::optional<std::vector<std::uint8_t>>
reportDescriptor([[maybe_unused]] hid_device* device, [[maybe_unused]] const std::string& path) {
#if QUORVANE_HIDAPI_AT_LEAST(0, 14)
    std::vector<std::uint8_t> bytes(MaxDescriptorBytes);
    const int n = hid_get_report_descriptor(device, bytes.data(), bytes.size());
    if (n <= 0)
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
#elif defined(__linux__)
    return sysfsReportDescriptor(path);
#else
    return std::nullopt;
#endif
}

} // namespace

void HidapiPlatform::DeviceCloser::operator()(hid_device_* device) const {
    hid_close(device);
}

HidapiPlatform::HidapiPlatform() : initialised_(hid_init() == 0) {}

HidapiPlatform::~HidapiPlatform() {
    handles_.clear(); // closes what the program left open, before the library goes
    hid_exit();
}

HidapiPlatform::OpenInterface* HidapiPlatform::find(RawHandle handle) {
    const auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : &it->second;
}

std::vector<std::string> HidapiPlatform::enumerateInterfaces() {
    std::vector<std::string> paths;
    enumerated_.clear();
    if (!initialised_)
        return paths;
    const Enumeration list(hid_enumerate(0, 0));
    // An interface with several top-level collections may be listed once per collection under
    // the same path; the program wants each interface once, in first-seen order.
    for (const hid_device_info* info = list.get(); info != nullptr; info = info->next) {
        if (info->path == nullptr)
            continue;
        if (std::find(paths.begin(), paths.end(), info->path) == paths.end()) {
            paths.emplace_back(info->path);
            EnumeratedInterface listed{info->vendor_id, info->product_id, {}, info->path};
            if (info->product_string != nullptr)
                listed.Product = utf16Text(codePoints(info->product_string));
            enumerated_.emplace(info->path, std::move(listed));
        }
    }
    return paths;
}

std::optional<EnumeratedInterface> HidapiPlatform::enumerated(const std::string& path) {
    // hidapi reads the IDs and strings from sysfs while enumerating, so even nodes this user may
    // not open are listed with them. Each hidraw node is one interface: its path is its unit.
    const auto it = enumerated_.find(path);
    if (it == enumerated_.end())
        return std::nullopt;
    return it->second;
}

// The kernel's HID_MAX_BUFFER_SIZE (include/linux/hid.h): hidraw refuses longer feature
// reports with EINVAL.
std::size_t HidapiPlatform::maxReportLength() const {
    return 16384;
}

bool HidapiPlatform::noteFailure(bool succeeded) {
    // hidraw answers ENODEV once its device is gone; the USB core ESHUTDOWN or ENODEV while it
    // is being removed. Anything else (EPIPE: the device stalled the request) is a refusal.
    const int error = errno;
    lastFailure_ = !succeeded && (error == ENODEV || error == ESHUTDOWN || error == ENXIO)
                       ? ReportFailure::DeviceGone
                       : ReportFailure::Refused;
    return succeeded;
}

OpenResult HidapiPlatform::open(const std::string& path, OpenMode /*mode*/) {
    // hidapi has one kind of open; an overlapped open is simply a second, independent one.
    OpenResult result;
    if (!initialised_) {
        result.error = OpenError::Other;
        return result;
    }
#if defined(__linux__)
    // hidapi's hidraw backend crashes (0.13) when a path opens but is no hidraw node, so only
    // hidraw nodes reach it; enumeration lists nothing else.
    if (!hidrawNodeName(path)) {
        result.error = OpenError::NotFound;
        return result;
    }
#endif
    errno = 0;
    hid_device* device = hid_open_path(path.c_str());
    const int error = errno;
    if (device == nullptr) {
        result.error = openErrorFrom(error);
        return result;
    }
    if (nextHandle_ == 0)
        ++nextHandle_;
    result.handle = nextHandle_++;
    handles_.emplace(result.handle,
                     OpenInterface{std::unique_ptr<hid_device_, DeviceCloser>(device), path});
    return result;
}

bool HidapiPlatform::close(RawHandle handle) {
    return handles_.erase(handle) == 1;
}

bool HidapiPlatform::getAttributes(RawHandle handle, HidAttributes& attributes) {
    const OpenInterface* open = find(handle);
    if (open == nullptr)
        return false;
#if QUORVANE_HIDAPI_AT_LEAST(0, 13)
    const hid_device_info* info = hid_get_device_info(open->device.get());
    if (info == nullptr)
        return false;
    attributes = attributesFrom(*info);
#else
    const auto found = enumeratedAttributes(open->path);
    if (!found)
        return false;
    attributes = *found;
#endif
    return true;
}

bool HidapiPlatform::getCapabilities(RawHandle handle, HidCapabilities& capabilities) {
    const OpenInterface* open = find(handle);
    if (open == nullptr)
        return false;
    const auto descriptor = reportDescriptor(open->device.get(), open->path);
    if (!descriptor)
        return false;
    const FeatureLengthResult parsed = parseFeatureReportByteLength(*descriptor);
    if (!parsed)
        return false;
    capabilities.FeatureReportByteLength = *parsed.featureReportByteLength;
    return true;
}

bool HidapiPlatform::setFeature(RawHandle handle, const std::uint8_t* buffer, std::size_t length) {
    const OpenInterface* open = find(handle);
    if (open == nullptr || buffer == nullptr || length == 0)
        return false;
    errno = 0;
    const int written = hid_send_feature_report(open->device.get(), buffer, length);
    return noteFailure(written >= 0 && static_cast<std::size_t>(written) == length);
}

bool HidapiPlatform::getFeature(RawHandle handle, std::uint8_t* buffer, std::size_t length) {
    const OpenInterface* open = find(handle);
    if (open == nullptr || buffer == nullptr || length == 0)
        return false;
    errno = 0;
    const int received = hid_get_feature_report(open->device.get(), buffer, length);
    if (!noteFailure(received > 0))
        return false;
    // A report shorter than the buffer leaves no stale bytes behind it.
    std::fill(buffer + std::min(static_cast<std::size_t>(received), length), buffer + length, 0);
    return true;
}

bool HidapiPlatform::getString(RawHandle handle, StringKind kind, std::uint8_t* buffer,
                               std::size_t length) {
    const OpenInterface* open = find(handle);
    if (open == nullptr || (buffer == nullptr && length != 0))
        return false;
    std::array<wchar_t, MaxStringChars> wide{};
    hid_device* device = open->device.get();
    const int rc = kind == StringKind::Manufacturer
                       ? hid_get_manufacturer_string(device, wide.data(), wide.size())
                   : kind == StringKind::Product
                       ? hid_get_product_string(device, wide.data(), wide.size())
                       : hid_get_serial_number_string(device, wide.data(), wide.size());
    if (rc < 0)
        return false;
    wide.back() = 0;
    writeUtf16le(codePoints(wide.data()), std::span(buffer, length));
    return true;
}

void HidapiPlatform::sleep(int milliseconds) {
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::int64_t HidapiPlatform::nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace quorvane
