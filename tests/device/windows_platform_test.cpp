// The Windows backend on a table of stand-in SetupAPI and HID calls: what it passes to each
// call (record sizes, buffers, flags), and how it treats what the calls report.
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
#include <string>
#include <vector>

namespace quorvane::test {
namespace {

#ifdef _WIN64
// The sizes a 64-bit program must pass, where a 32-bit one passed 28 and 5.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
#endif
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

struct FakeInterface {
    std::wstring path;
    DWORD openError = ERROR_SUCCESS; // the open fails with this when set
    HIDD_ATTRIBUTES attributes{sizeof(HIDD_ATTRIBUTES), 0x1234, 0x0001, 0x0100};
    USHORT featureReportByteLength = 9;
    bool preparsedFails = false;
    NTSTATUS capsStatus = HIDP_STATUS_SUCCESS;
    std::wstring manufacturer = L"Maker";
    std::wstring product = L"Device";
    std::wstring serialNumber = L"0001";
    bool detailFails = false;        // the second detail call fails
    bool detailUnterminated = false; // the path fills the buffer with no terminator
    DWORD detailGrowth = 0;          // bytes the detail grows by after the sizing call
    bool keepsGrowing = false;       // ... and again after every call
};

struct CreateFileCall {
    std::wstring path;
    DWORD access = 0;
    DWORD share = 0;
    bool hadSecurity = false;
    DWORD securityLength = 0;
    bool securityDescriptorNull = false;
    BOOL inherit = FALSE;
    DWORD disposition = 0;
    DWORD flags = 0;
    bool templateNull = false;
};

struct DetailCall {
    bool bufferNull = true;
    DWORD bufferSize = 0;
    DWORD cbSize = 0;
    bool aligned = false;
    bool requiredSizeGiven = false;
    bool deviceInfoNull = false;
    DWORD interfaceCbSize = 0;
};

struct FeatureCall {
    HANDLE handle = nullptr;
    const void* buffer = nullptr;
    ULONG length = 0;
    std::vector<std::uint8_t> bytes;
};

struct StringCall {
    char kind = '?';
    HANDLE handle = nullptr;
    const void* buffer = nullptr;
    ULONG length = 0;
};

// The stand-in system: present interfaces and everything the backend asked of it.
struct FakeSystem {
    std::vector<FakeInterface> interfaces;
    bool classDevsFails = false;
    GUID guidPassedToClassDevs{};
    const void* enumeratorPassed = reinterpret_cast<const void*>(1);
    HWND windowPassed = reinterpret_cast<HWND>(1);
    DWORD classDevsFlags = 0;
    std::vector<DWORD> enumCbSizes;
    std::vector<DetailCall> detailCalls;
    std::map<ULONG_PTR, DWORD> detailGrowthSoFar; // per interface
    int destroyed = 0;
    std::vector<CreateFileCall> opens;
    std::map<HANDLE, std::size_t> handles; // open handle -> interface index
    std::uintptr_t nextHandle = 0x40;
    std::vector<HANDLE> closes;
    std::vector<ULONG> attributeSizes;
    std::vector<PHIDP_PREPARSED_DATA> preparsedIssued;
    std::vector<PHIDP_PREPARSED_DATA> preparsedFreed;
    int capsCalls = 0;
    std::vector<FeatureCall> setFeatures;
    std::vector<FeatureCall> getFeatures;
    std::vector<std::uint8_t> featureAnswer = {0, 0xAA, 0xBB};
    std::vector<StringCall> strings;
};

FakeSystem fake;
const HDEVINFO FakeSet = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5E7));

const FakeInterface* interfaceOf(HANDLE handle) {
    const auto it = fake.handles.find(handle);
    return it == fake.handles.end() ? nullptr : &fake.interfaces[it->second];
}

void WINAPI fakeGetHidGuid(LPGUID guid) {
    *guid = GUID{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
}

HDEVINFO WINAPI fakeGetClassDevs(const GUID* guid, PCWSTR enumerator, HWND window, DWORD flags) {
    fake.guidPassedToClassDevs = *guid;
    fake.enumeratorPassed = enumerator;
    fake.windowPassed = window;
    fake.classDevsFlags = flags;
    if (fake.classDevsFails) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return FakeSet;
}

BOOL WINAPI fakeEnumInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* guid,
                               DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
    fake.enumCbSizes.push_back(data->cbSize);
    if (set != FakeSet || deviceInfo != nullptr || guid == nullptr ||
        data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (index >= fake.interfaces.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->Reserved = index; // tells the detail call which interface is meant
    return TRUE;
}

BOOL WINAPI fakeGetDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                          PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size, PDWORD required,
                          PSP_DEVINFO_DATA deviceInfo) {
    DetailCall call;
    call.bufferNull = detail == nullptr;
    call.bufferSize = size;
    call.cbSize = detail != nullptr ? detail->cbSize : 0;
    call.aligned =
        reinterpret_cast<std::uintptr_t>(detail) % alignof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 0;
    call.requiredSizeGiven = required != nullptr;
    call.deviceInfoNull = deviceInfo == nullptr;
    call.interfaceCbSize = data->cbSize;
    fake.detailCalls.push_back(call);
    if (set != FakeSet) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const bool first = detail == nullptr;
    const FakeInterface& iface = fake.interfaces[data->Reserved];
    DWORD& growth = fake.detailGrowthSoFar[data->Reserved];
    if (!first && (growth == 0 || iface.keepsGrowing))
        growth += iface.detailGrowth;
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (iface.path.size() + 1) * sizeof(WCHAR)) +
        growth;
    if (required != nullptr)
        *required = needed;
    if (first || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (iface.detailFails) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    auto* out = reinterpret_cast<std::uint8_t*>(detail);
    const std::size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    if (iface.detailUnterminated) {
        // Every unit of the buffer is path; there is no terminator to stop at.
        for (std::size_t at = offset; at + 1 < size; at += 2) {
            out[at] = 'Q';
            out[at + 1] = 0;
        }
        return TRUE;
    }
    std::memcpy(out + offset, iface.path.c_str(), (iface.path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI fakeDestroy(HDEVINFO set) {
    if (set == FakeSet)
        ++fake.destroyed;
    return TRUE;
}

HANDLE WINAPI fakeCreateFile(LPCWSTR path, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) {
    CreateFileCall call;
    call.path = path;
    call.access = access;
    call.share = share;
    call.hadSecurity = security != nullptr;
    if (security != nullptr) {
        call.securityLength = security->nLength;
        call.securityDescriptorNull = security->lpSecurityDescriptor == nullptr;
        call.inherit = security->bInheritHandle;
    }
    call.disposition = disposition;
    call.flags = flags;
    call.templateNull = templateFile == nullptr;
    fake.opens.push_back(call);
    for (std::size_t i = 0; i < fake.interfaces.size(); ++i) {
        if (fake.interfaces[i].path != path)
            continue;
        if (fake.interfaces[i].openError != ERROR_SUCCESS) {
            SetLastError(fake.interfaces[i].openError);
            return INVALID_HANDLE_VALUE;
        }
        const auto handle = reinterpret_cast<HANDLE>(fake.nextHandle);
        fake.nextHandle += 4;
        fake.handles[handle] = i;
        return handle;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI fakeCloseHandle(HANDLE handle) {
    fake.closes.push_back(handle);
    return fake.handles.erase(handle) == 1 ? TRUE : FALSE;
}

BOOLEAN NTAPI fakeGetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    fake.attributeSizes.push_back(attributes->Size);
    const FakeInterface* iface = interfaceOf(handle);
    if (iface == nullptr || attributes->Size != sizeof(HIDD_ATTRIBUTES))
        return FALSE;
    *attributes = iface->attributes;
    return TRUE;
}

BOOLEAN NTAPI fakeGetPreparsed(HANDLE handle, PHIDP_PREPARSED_DATA* preparsed) {
    const FakeInterface* iface = interfaceOf(handle);
    if (iface == nullptr || iface->preparsedFails)
        return FALSE;
    // Points at the interface's record, so the caps call knows whose data it is.
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(const_cast<FakeInterface*>(iface));
    fake.preparsedIssued.push_back(*preparsed);
    return TRUE;
}

NTSTATUS NTAPI fakeGetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
    ++fake.capsCalls;
    const auto* iface = reinterpret_cast<const FakeInterface*>(preparsed);
    if (iface->capsStatus != HIDP_STATUS_SUCCESS)
        return iface->capsStatus;
    *caps = HIDP_CAPS{};
    caps->FeatureReportByteLength = iface->featureReportByteLength;
    return HIDP_STATUS_SUCCESS;
}

BOOLEAN NTAPI fakeFreePreparsed(PHIDP_PREPARSED_DATA preparsed) {
    fake.preparsedFreed.push_back(preparsed);
    return TRUE;
}

BOOLEAN NTAPI fakeSetFeature(HANDLE handle, PVOID buffer, ULONG length) {
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    fake.setFeatures.push_back({handle, buffer, length, {bytes, bytes + length}});
    return interfaceOf(handle) != nullptr;
}

BOOLEAN NTAPI fakeGetFeature(HANDLE handle, PVOID buffer, ULONG length) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    fake.getFeatures.push_back({handle, buffer, length, {bytes, bytes + length}});
    if (interfaceOf(handle) == nullptr)
        return FALSE;
    std::copy_n(fake.featureAnswer.begin(),
                std::min<std::size_t>(length, fake.featureAnswer.size()), bytes);
    return TRUE;
}

BOOLEAN answerString(char kind, HANDLE handle, PVOID buffer, ULONG length) {
    fake.strings.push_back({kind, handle, buffer, length});
    const FakeInterface* iface = interfaceOf(handle);
    if (iface == nullptr)
        return FALSE;
    const std::wstring& text = kind == 'M'   ? iface->manufacturer
                               : kind == 'P' ? iface->product
                                             : iface->serialNumber;
    const std::size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    if (bytes > length)
        return FALSE;
    std::memcpy(buffer, text.c_str(), bytes);
    return TRUE;
}

BOOLEAN NTAPI fakeManufacturer(HANDLE h, PVOID b, ULONG n) {
    return answerString('M', h, b, n);
}
BOOLEAN NTAPI fakeProduct(HANDLE h, PVOID b, ULONG n) {
    return answerString('P', h, b, n);
}
BOOLEAN NTAPI fakeSerialNumber(HANDLE h, PVOID b, ULONG n) {
    return answerString('S', h, b, n);
}

WindowsHidCalls fakeCalls() {
    WindowsHidCalls calls;
    calls.HidD_GetHidGuid = fakeGetHidGuid;
    calls.SetupDiGetClassDevsW = fakeGetClassDevs;
    calls.SetupDiEnumDeviceInterfaces = fakeEnumInterfaces;
    calls.SetupDiGetDeviceInterfaceDetailW = fakeGetDetail;
    calls.SetupDiDestroyDeviceInfoList = fakeDestroy;
    calls.CreateFileW = fakeCreateFile;
    calls.CloseHandle = fakeCloseHandle;
    calls.HidD_GetAttributes = fakeGetAttributes;
    calls.HidD_GetPreparsedData = fakeGetPreparsed;
    calls.HidP_GetCaps = fakeGetCaps;
    calls.HidD_FreePreparsedData = fakeFreePreparsed;
    calls.HidD_SetFeature = fakeSetFeature;
    calls.HidD_GetFeature = fakeGetFeature;
    calls.HidD_GetManufacturerString = fakeManufacturer;
    calls.HidD_GetProductString = fakeProduct;
    calls.HidD_GetSerialNumberString = fakeSerialNumber;
    return calls;
}

FakeInterface iface(const std::wstring& path, USHORT vendor = 0x1234, USHORT product = 0x0001) {
    FakeInterface f;
    f.path = path;
    f.attributes.VendorID = vendor;
    f.attributes.ProductID = product;
    return f;
}

class WindowsPlatformTest : public ::testing::Test {
protected:
    void SetUp() override { fake = FakeSystem{}; }

    RawHandle openPlain(WindowsPlatform& platform, const std::string& path) {
        const OpenResult r = platform.open(path, OpenMode::Plain);
        EXPECT_NE(r.handle, 0U) << path;
        return r.handle;
    }
};

const std::wstring KeyboardPath =
    L"\\\\?\\hid#vid_046d&pid_c31c#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::wstring TarvexPath =
    L"\\\\?\\hid#vid_1d50&pid_2211#7&3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

TEST_F(WindowsPlatformTest, EnumeratesThePresentHidInterfacesInOrder) {
    fake.interfaces = {iface(KeyboardPath), iface(TarvexPath)};
    WindowsPlatform platform(fakeCalls());
    const std::vector<std::string> paths = platform.enumerateInterfaces();
    ASSERT_EQ(paths.size(), 2U);
    EXPECT_EQ(paths[0], std::string(KeyboardPath.begin(), KeyboardPath.end()));
    EXPECT_EQ(paths[1], std::string(TarvexPath.begin(), TarvexPath.end()));

    GUID hid;
    fakeGetHidGuid(&hid);
    EXPECT_EQ(std::memcmp(&fake.guidPassedToClassDevs, &hid, sizeof(GUID)), 0);
    EXPECT_EQ(fake.enumeratorPassed, nullptr);
    EXPECT_EQ(fake.windowPassed, nullptr);
    EXPECT_EQ(fake.classDevsFlags, static_cast<DWORD>(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    EXPECT_EQ(fake.classDevsFlags, 0x12U);
    // Index 0, 1, then the one past the end; each record carries the platform's own size.
    ASSERT_EQ(fake.enumCbSizes.size(), 3U);
    for (DWORD size : fake.enumCbSizes)
        EXPECT_EQ(size, sizeof(SP_DEVICE_INTERFACE_DATA));
    EXPECT_EQ(fake.destroyed, 1);
    EXPECT_TRUE(fake.opens.empty()); // listing opens nothing
}

TEST_F(WindowsPlatformTest, AsksForTheDetailTwiceWithABufferSizedAndAlignedForItsRecord) {
    fake.interfaces = {iface(TarvexPath)};
    WindowsPlatform platform(fakeCalls());
    ASSERT_EQ(platform.enumerateInterfaces().size(), 1U);
    ASSERT_EQ(fake.detailCalls.size(), 2U);
    const DetailCall& sizing = fake.detailCalls[0];
    EXPECT_TRUE(sizing.bufferNull);
    EXPECT_EQ(sizing.bufferSize, 0U);
    EXPECT_TRUE(sizing.requiredSizeGiven);
    EXPECT_TRUE(sizing.deviceInfoNull);
    const DetailCall& filling = fake.detailCalls[1];
    const DWORD required = static_cast<DWORD>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (TarvexPath.size() + 1) * 2);
    EXPECT_FALSE(filling.bufferNull);
    EXPECT_GE(filling.bufferSize, required);
    EXPECT_LT(filling.bufferSize, required + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    EXPECT_EQ(filling.cbSize, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    EXPECT_TRUE(filling.aligned);
    EXPECT_TRUE(filling.deviceInfoNull);
    EXPECT_EQ(filling.interfaceCbSize, sizeof(SP_DEVICE_INTERFACE_DATA));
}

TEST_F(WindowsPlatformTest, APathWithoutTerminatorEndsWhereTheBufferEnds) {
    FakeInterface f = iface(TarvexPath);
    f.detailUnterminated = true;
    fake.interfaces = {f};
    WindowsPlatform platform(fakeCalls());
    const std::vector<std::string> paths = platform.enumerateInterfaces();
    ASSERT_EQ(paths.size(), 1U);
    ASSERT_EQ(fake.detailCalls.size(), 2U);
    const std::size_t units =
        (fake.detailCalls[1].bufferSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) /
        sizeof(WCHAR);
    EXPECT_EQ(paths[0], std::string(units, 'Q'));
}

TEST_F(WindowsPlatformTest, ADetailThatGrewBetweenTheCallsIsAskedForAgain) {
    FakeInterface f = iface(TarvexPath);
    f.detailGrowth = 64;
    fake.interfaces = {f};
    WindowsPlatform platform(fakeCalls());
    ASSERT_EQ(platform.enumerateInterfaces().size(), 1U);
    ASSERT_EQ(fake.detailCalls.size(), 3U);
    EXPECT_GE(fake.detailCalls[2].bufferSize, fake.detailCalls[1].bufferSize + 64);
}

TEST_F(WindowsPlatformTest, ADetailThatKeepsGrowingIsLeftOut) {
    FakeInterface f = iface(TarvexPath);
    f.detailGrowth = 64;
    f.keepsGrowing = true;
    fake.interfaces = {f, iface(KeyboardPath)};
    WindowsPlatform platform(fakeCalls());
    // One more try, then the interface is skipped, never read from a buffer too small for it.
    const std::vector<std::string> paths = platform.enumerateInterfaces();
    ASSERT_EQ(paths.size(), 1U);
    EXPECT_EQ(paths[0], std::string(KeyboardPath.begin(), KeyboardPath.end()));
    EXPECT_EQ(fake.detailCalls.size(), 3U + 2U);
}

TEST_F(WindowsPlatformTest, AnInterfaceWhoseDetailFailsIsLeftOut) {
    FakeInterface broken = iface(L"\\\\?\\hid#broken");
    broken.detailFails = true;
    fake.interfaces = {broken, iface(TarvexPath)};
    WindowsPlatform platform(fakeCalls());
    const std::vector<std::string> paths = platform.enumerateInterfaces();
    ASSERT_EQ(paths.size(), 1U);
    EXPECT_EQ(paths[0], std::string(TarvexPath.begin(), TarvexPath.end()));
}

TEST_F(WindowsPlatformTest, NoInterfacesOrNoDeviceInformationSetListsNothing) {
    WindowsPlatform platform(fakeCalls());
    EXPECT_TRUE(platform.enumerateInterfaces().empty());
    EXPECT_EQ(fake.enumCbSizes.size(), 1U);
    EXPECT_EQ(fake.destroyed, 1);

    fake = FakeSystem{};
    fake.classDevsFails = true;
    fake.interfaces = {iface(TarvexPath)};
    EXPECT_TRUE(platform.enumerateInterfaces().empty());
    EXPECT_TRUE(fake.enumCbSizes.empty());
    EXPECT_EQ(fake.destroyed, 0); // there is no set to release
}

TEST_F(WindowsPlatformTest, PathsWithNonAsciiCharactersTravelAsUtf8) {
    const std::wstring path = L"\\\\?\\hid#Pr\u00fcfger\u00e4t#\u30d5\u30a1\u30fc\u30e0#\U0001F50C";
    fake.interfaces = {iface(path)};
    WindowsPlatform platform(fakeCalls());
    const std::vector<std::string> paths = platform.enumerateInterfaces();
    ASSERT_EQ(paths.size(), 1U);
    EXPECT_EQ(paths[0], "\\\\?\\hid#Pr\xC3\xBC"
                        "fger\xC3\xA4t#\xE3\x83\x95\xE3\x82\xA1\xE3\x83\xBC"
                        "\xE3\x83\xA0#\xF0\x9F\x94\x8C");
    ASSERT_NE(platform.open(paths[0], OpenMode::Plain).handle, 0U);
    ASSERT_EQ(fake.opens.size(), 1U);
    EXPECT_EQ(fake.opens[0].path, path);
}

TEST_F(WindowsPlatformTest, OpensForReadAndWriteSharedWithInheritableHandles) {
    fake.interfaces = {iface(TarvexPath)};
    WindowsPlatform platform(fakeCalls());
    const std::string path(TarvexPath.begin(), TarvexPath.end());
    const OpenResult plain = platform.open(path, OpenMode::Plain);
    const OpenResult overlapped = platform.open(path, OpenMode::Overlapped);
    EXPECT_NE(plain.handle, 0U);
    EXPECT_NE(overlapped.handle, 0U);
    EXPECT_NE(plain.handle, overlapped.handle);
    EXPECT_EQ(plain.error, OpenError::None);
    ASSERT_EQ(fake.opens.size(), 2U);
    for (const CreateFileCall& call : fake.opens) {
        EXPECT_EQ(call.path, TarvexPath);
        EXPECT_EQ(call.access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
        EXPECT_EQ(call.access, 0xC0000000U);
        EXPECT_EQ(call.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
        EXPECT_TRUE(call.hadSecurity);
        EXPECT_EQ(call.securityLength, sizeof(SECURITY_ATTRIBUTES));
        EXPECT_TRUE(call.securityDescriptorNull);
        EXPECT_TRUE(call.inherit);
        EXPECT_EQ(call.disposition, static_cast<DWORD>(OPEN_EXISTING));
        EXPECT_TRUE(call.templateNull);
    }
    EXPECT_EQ(fake.opens[0].flags, 0U);
    EXPECT_EQ(fake.opens[1].flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
}

TEST_F(WindowsPlatformTest, OpenFailuresSayWhy) {
    FakeInterface denied = iface(L"denied");
    denied.openError = ERROR_ACCESS_DENIED;
    FakeInterface busy = iface(L"busy");
    busy.openError = ERROR_SHARING_VIOLATION;
    FakeInterface gone = iface(L"gone");
    gone.openError = ERROR_DEVICE_NOT_CONNECTED;
    fake.interfaces = {denied, busy, gone};
    WindowsPlatform platform(fakeCalls());

    const OpenResult a = platform.open("denied", OpenMode::Plain);
    EXPECT_EQ(a.handle, 0U);
    EXPECT_EQ(a.error, OpenError::AccessDenied);
    EXPECT_EQ(platform.open("busy", OpenMode::Plain).error, OpenError::Other);
    EXPECT_EQ(platform.open("gone", OpenMode::Overlapped).error, OpenError::NotFound);
    EXPECT_EQ(platform.open("absent", OpenMode::Plain).error, OpenError::NotFound);
    EXPECT_TRUE(fake.closes.empty()); // a failed open leaves nothing to close
}

TEST_F(WindowsPlatformTest, APathWindowsCannotNameIsNotOpened) {
    WindowsPlatform platform(fakeCalls());
    EXPECT_EQ(platform.open("\xC3(", OpenMode::Plain).error, OpenError::NotFound);
    EXPECT_EQ(platform.open("", OpenMode::Plain).error, OpenError::NotFound);
    EXPECT_EQ(platform.open(std::string("ab\0cd", 5), OpenMode::Plain).error, OpenError::NotFound);
    EXPECT_TRUE(fake.opens.empty());
}

TEST_F(WindowsPlatformTest, ClosesEachHandleItOpenedOnceAndNothingElse) {
    fake.interfaces = {iface(TarvexPath)};
    WindowsPlatform platform(fakeCalls());
    const RawHandle h = openPlain(platform, std::string(TarvexPath.begin(), TarvexPath.end()));
    EXPECT_TRUE(platform.close(h));
    EXPECT_FALSE(platform.close(h));
    EXPECT_FALSE(platform.close(0x9999));
    ASSERT_EQ(fake.closes.size(), 1U);
    EXPECT_EQ(fake.closes[0], reinterpret_cast<HANDLE>(h));

    // A closed handle is no longer used for anything.
    HidAttributes attributes;
    HidCapabilities caps;
    std::uint8_t buffer[8] = {};
    EXPECT_FALSE(platform.getAttributes(h, attributes));
    EXPECT_FALSE(platform.getCapabilities(h, caps));
    EXPECT_FALSE(platform.setFeature(h, buffer, sizeof buffer));
    EXPECT_FALSE(platform.getFeature(h, buffer, sizeof buffer));
    EXPECT_FALSE(platform.getString(h, StringKind::Product, buffer, sizeof buffer));
    EXPECT_TRUE(fake.attributeSizes.empty());
    EXPECT_TRUE(fake.preparsedIssued.empty());
    EXPECT_TRUE(fake.setFeatures.empty());
    EXPECT_TRUE(fake.getFeatures.empty());
    EXPECT_TRUE(fake.strings.empty());
}

TEST_F(WindowsPlatformTest, HandlesLeftOpenAreClosedWithTheBackend) {
    fake.interfaces = {iface(TarvexPath)};
    const std::string path(TarvexPath.begin(), TarvexPath.end());
    {
        WindowsPlatform platform(fakeCalls());
        openPlain(platform, path);
        const RawHandle closed = openPlain(platform, path);
        platform.close(closed);
        openPlain(platform, path);
    }
    EXPECT_EQ(fake.closes.size(), 3U);
    EXPECT_TRUE(fake.handles.empty());
}

TEST_F(WindowsPlatformTest, AttributesAreAskedWithTheRecordsOwnSize) {
    fake.interfaces = {iface(TarvexPath, 0x1D50, 0xB046)};
    fake.interfaces[0].attributes.VersionNumber = 0x0207;
    WindowsPlatform platform(fakeCalls());
    const RawHandle h = openPlain(platform, std::string(TarvexPath.begin(), TarvexPath.end()));
    HidAttributes attributes;
    ASSERT_TRUE(platform.getAttributes(h, attributes));
    EXPECT_EQ(attributes.VendorID, 0x1D50);
    EXPECT_EQ(attributes.ProductID, 0xB046);
    EXPECT_EQ(attributes.VersionNumber, 0x0207);
    ASSERT_EQ(fake.attributeSizes.size(), 1U);
    EXPECT_EQ(fake.attributeSizes[0], sizeof(HIDD_ATTRIBUTES));
}

TEST_F(WindowsPlatformTest, CapabilitiesReleaseExactlyThePreparsedDataObtained) {
    FakeInterface ok = iface(L"ok");
    ok.featureReportByteLength = 65;
    FakeInterface noData = iface(L"no-data");
    noData.preparsedFails = true;
    FakeInterface badCaps = iface(L"bad-caps");
    badCaps.capsStatus = HIDP_STATUS_INVALID_PREPARSED_DATA;
    fake.interfaces = {ok, noData, badCaps};
    WindowsPlatform platform(fakeCalls());

    HidCapabilities caps;
    ASSERT_TRUE(platform.getCapabilities(openPlain(platform, "ok"), caps));
    EXPECT_EQ(caps.FeatureReportByteLength, 65);
    EXPECT_EQ(fake.preparsedFreed, fake.preparsedIssued);
    ASSERT_EQ(fake.preparsedFreed.size(), 1U);

    caps.FeatureReportByteLength = 7;
    EXPECT_FALSE(platform.getCapabilities(openPlain(platform, "no-data"), caps));
    EXPECT_EQ(caps.FeatureReportByteLength, 7); // untouched
    EXPECT_EQ(fake.capsCalls, 1);               // nothing obtained, nothing read or released
    EXPECT_EQ(fake.preparsedFreed.size(), 1U);

    EXPECT_FALSE(platform.getCapabilities(openPlain(platform, "bad-caps"), caps));
    EXPECT_EQ(caps.FeatureReportByteLength, 7);
    EXPECT_EQ(fake.preparsedFreed, fake.preparsedIssued); // obtained, so released
    EXPECT_EQ(fake.preparsedFreed.size(), 2U);
}

TEST_F(WindowsPlatformTest, FeatureReportsCarryTheCallersBytesAndLength) {
    fake.interfaces = {iface(TarvexPath)};
    WindowsPlatform platform(fakeCalls());
    const RawHandle h = openPlain(platform, std::string(TarvexPath.begin(), TarvexPath.end()));

    std::vector<std::uint8_t> report(65, 0);
    report[1] = 0x10;
    report[64] = 0x7F;
    const std::vector<std::uint8_t> sent = report;
    ASSERT_TRUE(platform.setFeature(h, report.data(), report.size()));
    ASSERT_EQ(fake.setFeatures.size(), 1U);
    EXPECT_EQ(fake.setFeatures[0].handle, reinterpret_cast<HANDLE>(h));
    EXPECT_EQ(fake.setFeatures[0].length, 65U);
    EXPECT_EQ(fake.setFeatures[0].bytes, sent);
    EXPECT_EQ(report, sent);

    std::vector<std::uint8_t> status(101, 0);
    ASSERT_TRUE(platform.getFeature(h, status.data(), 65));
    ASSERT_EQ(fake.getFeatures.size(), 1U);
    EXPECT_EQ(fake.getFeatures[0].buffer, status.data());
    EXPECT_EQ(fake.getFeatures[0].length, 65U);
    EXPECT_EQ(fake.getFeatures[0].bytes[0], 0); // report ID 0 goes out in byte 0
    EXPECT_EQ(status[1], 0xAA);
    EXPECT_EQ(status[2], 0xBB);

    EXPECT_FALSE(platform.setFeature(h, report.data(), 0));
    EXPECT_FALSE(platform.getFeature(h, nullptr, 65));
    EXPECT_EQ(fake.setFeatures.size(), 1U);
    EXPECT_EQ(fake.getFeatures.size(), 1U);
}

TEST_F(WindowsPlatformTest, StringsAreWrittenAsUtf16IntoTheCallersBuffer) {
    FakeInterface f = iface(TarvexPath);
    f.manufacturer = L"Tarvex Werk\u00e9";
    f.product = L"Tarvex";
    f.serialNumber = L"SN-0042";
    fake.interfaces = {f};
    WindowsPlatform platform(fakeCalls());
    const RawHandle h =
        platform.open(std::string(TarvexPath.begin(), TarvexPath.end()), OpenMode::Overlapped)
            .handle;
    ASSERT_NE(h, 0U);

    std::uint8_t buffer[201] = {};
    ASSERT_TRUE(platform.getString(h, StringKind::Manufacturer, buffer, 100));
    const std::uint8_t expected[] = {'T', 0,   'a', 0,   'r', 0,   'v', 0,   'e', 0,    'x', 0, ' ',
                                     0,   'W', 0,   'e', 0,   'r', 0,   'k', 0,   0xE9, 0,   0, 0};
    EXPECT_EQ(std::memcmp(buffer, expected, sizeof expected), 0);
    ASSERT_TRUE(platform.getString(h, StringKind::Product, buffer, 100));
    ASSERT_TRUE(platform.getString(h, StringKind::SerialNumber, buffer, 100));
    ASSERT_EQ(fake.strings.size(), 3U);
    const char kinds[] = {'M', 'P', 'S'};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(fake.strings[i].kind, kinds[i]);
        EXPECT_EQ(fake.strings[i].handle, reinterpret_cast<HANDLE>(h));
        EXPECT_EQ(fake.strings[i].buffer, buffer);
        EXPECT_EQ(fake.strings[i].length, 100U);
    }
    EXPECT_EQ(std::memcmp(buffer, L"SN-0042", 16), 0);
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
    WindowsPlatform platform(fakeCalls());
    RecordingWindow window(platform);
    DeviceState state;
    DeviceContext ctx{platform, window, state};

    ASSERT_TRUE(FindTheHid(ctx));
    EXPECT_TRUE(state.DeviceFound);
    EXPECT_EQ(state.Attributes.ProductID, 0x2211);
    EXPECT_EQ(state.Capabilities.FeatureReportByteLength, 65);
    EXPECT_EQ(state.DevicePath, std::string(TarvexPath.begin(), TarvexPath.end()));
    // The locked one fails to open, the keyboard is opened and closed, the Tarvex opened plain,
    // then overlapped; the later interface is never opened.
    ASSERT_EQ(fake.opens.size(), 4U);
    EXPECT_EQ(fake.opens[2].path, TarvexPath);
    EXPECT_EQ(fake.opens[2].flags, 0U);
    EXPECT_EQ(fake.opens[3].path, TarvexPath);
    EXPECT_EQ(fake.opens[3].flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
    EXPECT_EQ(fake.closes.size(), 1U);
    EXPECT_EQ(fake.preparsedFreed, fake.preparsedIssued);

    closeDeviceHandles(ctx);
    EXPECT_EQ(fake.closes.size(), 3U);
    EXPECT_TRUE(fake.handles.empty());
}

} // namespace
} // namespace quorvane::test
