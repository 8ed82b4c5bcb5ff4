// The Windows backend on a table of stand-in SetupAPI and HID calls: what it passes to each
// call (record sizes, buffers, flags), and how it treats what the calls report.
#include "device_path.h"
#include "windows_platform.h"

#include "device_context.h"
#include "device_state.h"
#include "discovery.h"
#include "recording_window.h"
#include "windows_hid_calls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::test {
namespace {

using Detail = SP_DEVICE_INTERFACE_DETAIL_DATA_W;
constexpr std::size_t PathOffset = offsetof(Detail, DevicePath);

#ifdef _WIN64
// The sizes a 64-bit program must pass, where a 32-bit one passed 28 and 5.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(Detail) == 8);
#endif
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

struct FakeInterface {
    std::wstring path;
    DWORD openError = ERROR_SUCCESS; // the open fails with this when set
    HIDD_ATTRIBUTES attributes{sizeof(HIDD_ATTRIBUTES), 0x1234, 0x0001, 0x0100};
    USHORT featureReportByteLength = 9;
    bool preparsedFails = false;
    NTSTATUS capsStatus = HIDP_STATUS_SUCCESS;
    // Manufacturer, product and serial number.
    std::wstring strings[3] = {L"Maker", L"Device", L"0001"};
    bool detailFails = false;        // the second detail call fails
    bool detailUnterminated = false; // the path fills the buffer with no terminator
    DWORD detailGrowth = 0;          // bytes the detail grows by after the sizing call
    bool keepsGrowing = false;       // ... and again after every call
};

// What the backend passed to the calls.
struct CreateFileCall {
    std::wstring path;
    DWORD access, share;
    std::optional<SECURITY_ATTRIBUTES> security;
    DWORD disposition, flags;
    HANDLE templateFile;
};
// Feature reports ('W'rite, 'R'ead) and strings ('M'anufacturer, 'P'roduct, 'S'erial number).
struct BufferCall {
    char kind;
    HANDLE handle;
    const void* buffer;
    ULONG length;
    std::vector<std::uint8_t> bytes; // the buffer as the call received it
};

// The stand-in system: present interfaces and everything the backend asked of it.
struct FakeSystem {
    std::vector<FakeInterface> interfaces;
    bool classDevsFails = false;
    GUID classDevsGuid{};
    const void* classDevsEnumerator = reinterpret_cast<const void*>(1);
    HWND classDevsWindow = reinterpret_cast<HWND>(1);
    DWORD classDevsFlags = 0;
    std::vector<DWORD> enumCbSizes;
    std::map<ULONG_PTR, std::vector<DWORD>> detailSizes; // buffer sizes given, per interface
    std::map<ULONG_PTR, DWORD> detailGrowthSoFar;        // per interface
    int destroyed = 0;
    std::vector<CreateFileCall> opens;
    std::map<HANDLE, std::size_t> handles; // open handle -> interface index
    std::vector<HANDLE> closes;
    std::vector<ULONG> attributeSizes;
    std::vector<PHIDP_PREPARSED_DATA> preparsedIssued, preparsedFreed;
    int capsCalls = 0;
    std::vector<BufferCall> io;
};

FakeSystem fake;
const HDEVINFO FakeSet = reinterpret_cast<HDEVINFO>(std::uintptr_t{0x5E7});
const GUID HidGuid{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

const FakeInterface* interfaceOf(HANDLE handle) {
    const auto it = fake.handles.find(handle);
    return it == fake.handles.end() ? nullptr : &fake.interfaces[it->second];
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI fakeGetDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, Detail* detail, DWORD size,
                          PDWORD required, PSP_DEVINFO_DATA deviceInfo) {
    fake.detailSizes[data->Reserved].push_back(size);
    // As the system: the interface record, and a buffer (with its size) only to be filled.
    if (set != FakeSet || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        deviceInfo != nullptr || (detail == nullptr) != (size == 0))
        return fail(ERROR_INVALID_PARAMETER);
    // ... and whole detail records, aligned for them.
    if (detail != nullptr && (detail->cbSize != sizeof(Detail) ||
                              reinterpret_cast<std::uintptr_t>(detail) % alignof(Detail) != 0))
        return fail(ERROR_INVALID_USER_BUFFER);
    const FakeInterface& iface = fake.interfaces[data->Reserved];
    DWORD& growth = fake.detailGrowthSoFar[data->Reserved];
    if (detail != nullptr && (growth == 0 || iface.keepsGrowing))
        growth += iface.detailGrowth;
    const DWORD needed =
        static_cast<DWORD>(PathOffset + (iface.path.size() + 1) * sizeof(WCHAR)) + growth;
    if (required != nullptr)
        *required = needed;
    if (detail == nullptr || size < needed)
        return fail(ERROR_INSUFFICIENT_BUFFER);
    if (iface.detailFails)
        return fail(ERROR_NOT_FOUND);
    // An unterminated path fills every unit of the buffer.
    const std::wstring path = iface.detailUnterminated
                                  ? std::wstring((size - PathOffset) / sizeof(WCHAR), L'Q')
                                  : iface.path + L'\0';
    std::memcpy(reinterpret_cast<std::uint8_t*>(detail) + PathOffset, path.data(),
                path.size() * sizeof(WCHAR));
    return TRUE;
}

HANDLE WINAPI fakeCreateFile(LPCWSTR path, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) {
    fake.opens.push_back({path, access, share, std::nullopt, disposition, flags, templateFile});
    if (security != nullptr)
        fake.opens.back().security = *security;
    for (std::size_t i = 0; i < fake.interfaces.size(); ++i) {
        if (fake.interfaces[i].path != path)
            continue;
        if (fake.interfaces[i].openError != ERROR_SUCCESS) {
            SetLastError(fake.interfaces[i].openError);
            return INVALID_HANDLE_VALUE;
        }
        const auto handle = reinterpret_cast<HANDLE>(0x40 + 4 * fake.opens.size());
        fake.handles[handle] = i;
        return handle;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

// Records a feature report or string call; false when the handle is not open.
bool record(char kind, HANDLE handle, PVOID buffer, ULONG length) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    fake.io.push_back({kind, handle, buffer, length, {bytes, bytes + length}});
    return interfaceOf(handle) != nullptr;
}

// The manufacturer (0), product (1) or serial number (2) string.
template <int Which> BOOLEAN NTAPI answerString(HANDLE handle, PVOID buffer, ULONG length) {
    if (!record("MPS"[Which], handle, buffer, length))
        return FALSE;
    const std::wstring& text = interfaceOf(handle)->strings[Which];
    const std::size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    if (bytes > length)
        return FALSE;
    std::memcpy(buffer, text.c_str(), bytes);
    return TRUE;
}

WindowsHidCalls fakeCalls() {
    WindowsHidCalls c;
    c.HidD_GetHidGuid = [](LPGUID guid) { *guid = HidGuid; };
    c.SetupDiGetClassDevsW = [](const GUID* guid, PCWSTR enumerator, HWND window, DWORD flags) {
        fake.classDevsGuid = *guid;
        fake.classDevsEnumerator = enumerator;
        fake.classDevsWindow = window;
        fake.classDevsFlags = flags;
        if (!fake.classDevsFails)
            return FakeSet;
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    };
    c.SetupDiEnumDeviceInterfaces = [](HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* guid,
                                       DWORD index, PSP_DEVICE_INTERFACE_DATA data) -> BOOL {
        fake.enumCbSizes.push_back(data->cbSize);
        if (set != FakeSet || deviceInfo != nullptr || guid == nullptr ||
            data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
            return fail(ERROR_INVALID_PARAMETER);
        if (index >= fake.interfaces.size())
            return fail(ERROR_NO_MORE_ITEMS);
        data->Reserved = index; // tells the detail call which interface is meant
        return TRUE;
    };
    c.SetupDiGetDeviceInterfaceDetailW = fakeGetDetail;
    c.SetupDiDestroyDeviceInfoList = [](HDEVINFO set) -> BOOL {
        fake.destroyed += set == FakeSet ? 1 : 0;
        return TRUE;
    };
    c.CreateFileW = fakeCreateFile;
    c.CloseHandle = [](HANDLE handle) -> BOOL {
        fake.closes.push_back(handle);
        return fake.handles.erase(handle) == 1 ? TRUE : FALSE;
    };
    c.HidD_GetAttributes = [](HANDLE handle, PHIDD_ATTRIBUTES attributes) -> BOOLEAN {
        fake.attributeSizes.push_back(attributes->Size);
        const FakeInterface* iface = interfaceOf(handle);
        if (iface == nullptr || attributes->Size != sizeof(HIDD_ATTRIBUTES))
            return FALSE;
        *attributes = iface->attributes;
        return TRUE;
    };
    c.HidD_GetPreparsedData = [](HANDLE handle, PHIDP_PREPARSED_DATA* preparsed) -> BOOLEAN {
        const FakeInterface* iface = interfaceOf(handle);
        if (iface == nullptr || iface->preparsedFails)
            return FALSE;
        // Points at the interface's record, so the caps call knows whose data it is.
        *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(const_cast<FakeInterface*>(iface));
        fake.preparsedIssued.push_back(*preparsed);
        return TRUE;
    };
    c.HidP_GetCaps = [](PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) -> NTSTATUS {
        ++fake.capsCalls;
        const auto* iface = reinterpret_cast<const FakeInterface*>(preparsed);
        if (iface->capsStatus != HIDP_STATUS_SUCCESS)
            return iface->capsStatus;
        caps->FeatureReportByteLength = iface->featureReportByteLength;
        return HIDP_STATUS_SUCCESS;
    };
    c.HidD_FreePreparsedData = [](PHIDP_PREPARSED_DATA preparsed) -> BOOLEAN {
        fake.preparsedFreed.push_back(preparsed);
        return TRUE;
    };
    c.HidD_SetFeature = [](HANDLE h, PVOID b, ULONG n) -> BOOLEAN { return record('W', h, b, n); };
    c.HidD_GetFeature = [](HANDLE h, PVOID b, ULONG n) -> BOOLEAN {
        if (!record('R', h, b, n))
            return FALSE;
        const std::uint8_t answer[] = {0, 0xAA, 0xBB};
        std::copy_n(answer, std::min<std::size_t>(n, sizeof answer), static_cast<std::uint8_t*>(b));
        return TRUE;
    };
    c.HidD_GetManufacturerString = answerString<0>;
    c.HidD_GetProductString = answerString<1>;
    c.HidD_GetSerialNumberString = answerString<2>;
    return c;
}

FakeInterface iface(const std::wstring& path, USHORT vendor = 0x1234, USHORT product = 0x0001) {
    FakeInterface f;
    f.path = path;
    f.attributes.VendorID = vendor;
    f.attributes.ProductID = product;
    return f;
}

const std::wstring KeyboardPath =
    L"\\\\?\\hid#vid_046d&pid_c31c#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::wstring TarvexPath =
    L"\\\\?\\hid#vid_1d50&pid_2211#7&3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
// The same, as the backend lists them.
const std::string Keyboard(KeyboardPath.begin(), KeyboardPath.end());
const std::string Tarvex(TarvexPath.begin(), TarvexPath.end());

class WindowsPlatformTest : public ::testing::Test {
protected:
    WindowsPlatformTest() { fake = FakeSystem{}; }

    RawHandle open(const std::string& path, OpenMode mode = OpenMode::Plain) {
        const OpenResult r = platform->open(path, mode);
        EXPECT_NE(r.handle, 0U) << path;
        EXPECT_EQ(r.error, OpenError::None) << path;
        return r.handle;
    }

    std::unique_ptr<WindowsPlatform> platform = std::make_unique<WindowsPlatform>(fakeCalls());
};

TEST_F(WindowsPlatformTest, ListsThePresentHidInterfacesInOrderAsUtf8) {
    const std::wstring wide = L"\\\\?\\hid#Pr\u00fcfger\u00e4t#\u30d5\u30a1\u30fc\u30e0#\U0001F50C";
    const std::string utf8 = "\\\\?\\hid#Pr\xC3\xBC"
                             "fger\xC3\xA4t#\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC"
                             "\xE3\x83\xA0#\xF0\x9F\x94\x8C";
    fake.interfaces = {iface(KeyboardPath), iface(wide)};
    EXPECT_EQ(platform->enumerateInterfaces(), (std::vector<std::string>{Keyboard, utf8}));
    EXPECT_EQ(std::memcmp(&fake.classDevsGuid, &HidGuid, sizeof(GUID)), 0);
    EXPECT_EQ(fake.classDevsEnumerator, nullptr);
    EXPECT_EQ(fake.classDevsWindow, nullptr);
    EXPECT_EQ(fake.classDevsFlags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    // Index 0, 1, then the one past the end; each record carries the platform's own size.
    EXPECT_EQ(fake.enumCbSizes, std::vector<DWORD>(3, sizeof(SP_DEVICE_INTERFACE_DATA)));
    EXPECT_EQ(fake.destroyed, 1);
    EXPECT_TRUE(fake.opens.empty()); // listing opens nothing

    // For each, the size, then the detail in whole records (the stand-in refuses a buffer it is
    // not to fill, a detail record of another size, and a buffer not aligned for it).
    ASSERT_EQ(fake.detailSizes.size(), 2U);
    for (const auto& [index, sizes] : fake.detailSizes) {
        ASSERT_EQ(sizes.size(), 2U);
        EXPECT_EQ(sizes[0], 0U);
        const auto required = PathOffset + (fake.interfaces[index].path.size() + 1) * sizeof(WCHAR);
        EXPECT_GE(sizes[1], required);
        EXPECT_LT(sizes[1], required + sizeof(Detail));
        EXPECT_EQ(sizes[1] % sizeof(Detail), 0U);
    }

    // The UTF-8 path opens the interface by its UTF-16 name.
    open(utf8);
    ASSERT_EQ(fake.opens.size(), 1U);
    EXPECT_EQ(fake.opens[0].path, wide);
}

TEST_F(WindowsPlatformTest, DetailsThatGrowFailOrLackATerminator) {
    FakeInterface broken = iface(L"broken"), grew = iface(TarvexPath), growing = iface(L"growing"),
                  unterminated = iface(L"unterminated");
    broken.detailFails = true;
    grew.detailGrowth = growing.detailGrowth = 64;
    growing.keepsGrowing = true;
    unterminated.detailUnterminated = true;
    fake.interfaces = {broken, grew, growing, unterminated, iface(KeyboardPath)};
    const std::vector<std::string> paths = platform->enumerateInterfaces();

    auto& sizes = fake.detailSizes; // buffer sizes given, per interface
    // Grown once: asked for again with room for the growth. Growing on: one more try, then left
    // out, never read from a buffer too small for it. Unterminated: ends where the buffer ends.
    ASSERT_EQ(sizes[1].size(), 3U);
    EXPECT_GE(sizes[1][2], sizes[1][1] + 64);
    EXPECT_EQ(sizes[2].size(), 3U);
    ASSERT_EQ(sizes[3].size(), 2U);
    const std::string cut((sizes[3][1] - PathOffset) / sizeof(WCHAR), 'Q');
    EXPECT_EQ(paths, (std::vector<std::string>{Tarvex, cut, Keyboard}));
}

TEST_F(WindowsPlatformTest, NoInterfacesOrNoDeviceInformationSetListsNothing) {
    EXPECT_TRUE(platform->enumerateInterfaces().empty());
    EXPECT_EQ(fake.enumCbSizes.size(), 1U);
    EXPECT_EQ(fake.destroyed, 1);

    fake = FakeSystem{};
    fake.classDevsFails = true;
    fake.interfaces = {iface(TarvexPath)};
    EXPECT_TRUE(platform->enumerateInterfaces().empty());
    EXPECT_TRUE(fake.enumCbSizes.empty());
    EXPECT_EQ(fake.destroyed, 0); // there is no set to release
}

TEST_F(WindowsPlatformTest, OpensForReadAndWriteSharedWithInheritableHandles) {
    fake.interfaces = {iface(TarvexPath)};
    const RawHandle plain = open(Tarvex);
    EXPECT_NE(open(Tarvex, OpenMode::Overlapped), plain);
    ASSERT_EQ(fake.opens.size(), 2U);
    for (const CreateFileCall& call : fake.opens) {
        EXPECT_EQ(call.path, TarvexPath);
        EXPECT_EQ(call.access, 0xC0000000U); // GENERIC_READ | GENERIC_WRITE
        EXPECT_EQ(call.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
        ASSERT_TRUE(call.security.has_value());
        EXPECT_EQ(call.security->nLength, sizeof(SECURITY_ATTRIBUTES));
        EXPECT_EQ(call.security->lpSecurityDescriptor, nullptr);
        EXPECT_TRUE(call.security->bInheritHandle);
        EXPECT_EQ(call.disposition, static_cast<DWORD>(OPEN_EXISTING));
        EXPECT_EQ(call.templateFile, nullptr);
    }
    EXPECT_EQ(fake.opens[0].flags, 0U);
    EXPECT_EQ(fake.opens[1].flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
}

TEST_F(WindowsPlatformTest, OpenFailuresSayWhy) {
    fake.interfaces = {iface(L"denied"), iface(L"busy"), iface(L"gone")};
    fake.interfaces[0].openError = ERROR_ACCESS_DENIED;
    fake.interfaces[1].openError = ERROR_SHARING_VIOLATION;
    fake.interfaces[2].openError = ERROR_DEVICE_NOT_CONNECTED;
    const OpenResult denied = platform->open("denied", OpenMode::Plain);
    EXPECT_EQ(denied.handle, 0U);
    EXPECT_EQ(denied.error, OpenError::AccessDenied);
    EXPECT_EQ(platform->open("busy", OpenMode::Plain).error, OpenError::Other);
    EXPECT_EQ(platform->open("gone", OpenMode::Overlapped).error, OpenError::NotFound);
    EXPECT_EQ(platform->open("absent", OpenMode::Plain).error, OpenError::NotFound);
    EXPECT_EQ(fake.opens.size(), 4U);
    EXPECT_TRUE(fake.closes.empty()); // a failed open leaves nothing to close

    // A path Windows cannot name never reaches it.
    for (const std::string& path : {std::string("\xC3("), std::string(), std::string("ab\0cd", 5)})
        EXPECT_EQ(platform->open(path, OpenMode::Plain).error, OpenError::NotFound);
    EXPECT_EQ(fake.opens.size(), 4U);
}

TEST_F(WindowsPlatformTest, ClosesEachHandleItOpenedOnceAndTheRestWithTheBackend) {
    fake.interfaces = {iface(TarvexPath)};
    const RawHandle h = open(Tarvex);
    EXPECT_TRUE(platform->close(h));
    EXPECT_FALSE(platform->close(h));
    EXPECT_FALSE(platform->close(0x9999));
    EXPECT_EQ(fake.closes, std::vector<HANDLE>{reinterpret_cast<HANDLE>(h)});

    // A closed handle is no longer used for anything.
    HidAttributes attributes;
    HidCapabilities caps;
    std::uint8_t buffer[8] = {};
    EXPECT_FALSE(platform->getAttributes(h, attributes));
    EXPECT_FALSE(platform->getCapabilities(h, caps));
    EXPECT_FALSE(platform->setFeature(h, buffer, sizeof buffer));
    EXPECT_FALSE(platform->getFeature(h, buffer, sizeof buffer));
    EXPECT_FALSE(platform->getString(h, StringKind::Product, buffer, sizeof buffer));
    EXPECT_TRUE(fake.attributeSizes.empty());
    EXPECT_TRUE(fake.preparsedIssued.empty());
    EXPECT_TRUE(fake.io.empty());

    open(Tarvex);
    open(Tarvex, OpenMode::Overlapped);
    platform.reset();
    EXPECT_EQ(fake.closes.size(), 3U);
    EXPECT_TRUE(fake.handles.empty());
}

TEST_F(WindowsPlatformTest, AttributesAndStringsComeInTheRecordAndBufferGiven) {
    fake.interfaces = {iface(TarvexPath, 0x1D50, 0xB046)};
    fake.interfaces[0].attributes.VersionNumber = 0x0207;
    fake.interfaces[0].strings[0] = L"Tarvex Werk\u00e9";
    const RawHandle h = open(Tarvex, OpenMode::Overlapped);
    HidAttributes attributes;
    ASSERT_TRUE(platform->getAttributes(h, attributes));
    EXPECT_EQ(attributes.VendorID, 0x1D50);
    EXPECT_EQ(attributes.ProductID, 0xB046);
    EXPECT_EQ(attributes.VersionNumber, 0x0207);
    EXPECT_EQ(fake.attributeSizes, std::vector<ULONG>{sizeof(HIDD_ATTRIBUTES)});

    // UTF-16LE, straight into the caller's buffer.
    std::uint8_t buffer[201] = {};
    ASSERT_TRUE(platform->getString(h, StringKind::Manufacturer, buffer, 100));
    const std::uint8_t expected[] = {'T', 0,   'a', 0,   'r', 0,   'v', 0,   'e', 0,    'x', 0, ' ',
                                     0,   'W', 0,   'e', 0,   'r', 0,   'k', 0,   0xE9, 0,   0, 0};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0);
    ASSERT_TRUE(platform->getString(h, StringKind::Product, buffer, 100));
    ASSERT_TRUE(platform->getString(h, StringKind::SerialNumber, buffer, 100));
    EXPECT_EQ(std::memcmp(buffer, L"0001", 10), 0);
    ASSERT_EQ(fake.io.size(), 3U);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fake.io[i].kind, "MPS"[i]);
        EXPECT_EQ(fake.io[i].handle, reinterpret_cast<HANDLE>(h));
        EXPECT_EQ(fake.io[i].buffer, buffer);
        EXPECT_EQ(fake.io[i].length, 100U);
    }
}

TEST_F(WindowsPlatformTest, CapabilitiesReleaseExactlyThePreparsedDataObtained) {
    fake.interfaces = {iface(L"ok"), iface(L"no-data"), iface(L"bad-caps")};
    fake.interfaces[0].featureReportByteLength = 65;
    fake.interfaces[1].preparsedFails = true;
    fake.interfaces[2].capsStatus = HIDP_STATUS_INVALID_PREPARSED_DATA;
    HidCapabilities caps;
    ASSERT_TRUE(platform->getCapabilities(open("ok"), caps));
    EXPECT_EQ(caps.FeatureReportByteLength, 65);
    EXPECT_EQ(fake.preparsedFreed, fake.preparsedIssued);
    ASSERT_EQ(fake.preparsedFreed.size(), 1U);

    caps.FeatureReportByteLength = 7;
    EXPECT_FALSE(platform->getCapabilities(open("no-data"), caps));
    EXPECT_EQ(caps.FeatureReportByteLength, 7); // untouched
    EXPECT_EQ(fake.capsCalls, 1);               // nothing obtained, nothing read or released
    EXPECT_EQ(fake.preparsedFreed.size(), 1U);

    EXPECT_FALSE(platform->getCapabilities(open("bad-caps"), caps));
    EXPECT_EQ(caps.FeatureReportByteLength, 7);
    EXPECT_EQ(fake.preparsedFreed, fake.preparsedIssued); // obtained, so released
    EXPECT_EQ(fake.preparsedFreed.size(), 2U);
}

TEST_F(WindowsPlatformTest, FeatureReportsCarryTheCallersBytesAndLength) {
    fake.interfaces = {iface(TarvexPath)};
    const RawHandle h = open(Tarvex);
    std::vector<std::uint8_t> report(65);
    std::iota(report.begin() + 1, report.end(), 0x40); // report ID 0, then distinct bytes
    const std::vector<std::uint8_t> sent = report;
    ASSERT_TRUE(platform->setFeature(h, report.data(), report.size()));
    std::vector<std::uint8_t> status(101, 0);
    ASSERT_TRUE(platform->getFeature(h, status.data(), 65));
    ASSERT_EQ(fake.io.size(), 2U);
    EXPECT_EQ(fake.io[0].kind, 'W');
    EXPECT_EQ(fake.io[0].handle, reinterpret_cast<HANDLE>(h));
    EXPECT_EQ(fake.io[0].bytes, sent);
    EXPECT_EQ(report, sent);
    EXPECT_EQ(fake.io[1].kind, 'R');
    EXPECT_EQ(fake.io[1].buffer, status.data());
    EXPECT_EQ(fake.io[1].length, 65U);
    EXPECT_EQ(fake.io[1].bytes[0], 0); // report ID 0 goes out in byte 0
    EXPECT_EQ(status[1], 0xAA);
    EXPECT_EQ(status[2], 0xBB);

    EXPECT_FALSE(platform->setFeature(h, report.data(), 0));
    EXPECT_FALSE(platform->getFeature(h, nullptr, 65));
    EXPECT_EQ(fake.io.size(), 2U);
}

// Discovery on the Windows backend: the same decisions as on every backend, made with the
// platform's own calls.
TEST_F(WindowsPlatformTest, DiscoveryFindsTheTarvexAndOpensItTwice) {
    FakeInterface locked = iface(L"\\\\?\\hid#locked", 0x1D50, 0x2211);
    locked.openError = ERROR_ACCESS_DENIED;
    FakeInterface tarvex = iface(TarvexPath, 0x1D50, 0x2211);
    tarvex.featureReportByteLength = 65;
    fake.interfaces = {locked, iface(KeyboardPath, 0x046D, 0xC31C), tarvex,
                       iface(L"\\\\?\\hid#late", 0x1D50, 0xB046)};
    RecordingWindow window(*platform);
    DeviceState state;
    DeviceContext ctx{*platform, window, state};

    ASSERT_TRUE(FindTheHid(ctx));
    EXPECT_EQ(state.DevicePath, Tarvex);
    EXPECT_EQ(state.Attributes.ProductID, 0x2211);
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, 65);
    // The locked one fails to open, the keyboard is opened and closed, the Tarvex opened plain,
    // then overlapped; the later interface is never opened.
    ASSERT_EQ(fake.opens.size(), 4U);
    EXPECT_EQ(fake.opens[2].path, TarvexPath);
    EXPECT_EQ(fake.opens[3].path, TarvexPath);
    EXPECT_EQ(fake.opens[3].flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
    EXPECT_EQ(fake.closes.size(), 1U);
    EXPECT_EQ(fake.preparsedFreed, fake.preparsedIssued);
    closeDeviceHandles(ctx);
    EXPECT_EQ(fake.closes.size(), 3U);
    EXPECT_TRUE(fake.handles.empty());
}

TEST(DevicePath, ProductIdOfAWindowsInterfacePathInAnyCase) {
    EXPECT_EQ(productIdInDevicePath(R"(\\?\hid#vid_1d50&pid_2211#7&1a2b3c&0&0000#{4d1e55b2-f16f})"),
              std::optional<std::uint16_t>(0x2211));
    EXPECT_EQ(productIdInDevicePath(R"(\\?\HID#VID_1D50&PID_B046&MI_00#8&2f)"),
              std::optional<std::uint16_t>(0xB046));
    // Only a whole field counts: not a "pid_" inside another word, not fewer than four digits.
    EXPECT_EQ(productIdInDevicePath(R"(\\?\hid#vid_1d50&xpid_2211#1)"), std::nullopt);
    EXPECT_EQ(productIdInDevicePath(R"(\\?\hid#vid_1d50&pid_22#1)"), std::nullopt);
    EXPECT_EQ(productIdInDevicePath("/dev/hidraw0"), std::nullopt);
    EXPECT_EQ(productIdInDevicePath("pid_"), std::nullopt);
}

} // namespace
} // namespace quorvane::test
