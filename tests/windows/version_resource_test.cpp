// The version resource and icon that quorvane.exe carries, read back from this program, which
// is built with the same resource.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The window icon's images, which the .ico must reproduce pixel for pixel.
#include "quorvane-16.xpm"
#include "quorvane-32.xpm"

namespace {

TEST(VersionResource, NamesTheProgramAndCarriesItsVersionInUsEnglish) {
    wchar_t self[32768] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, 32768), 0U);
    DWORD ignored = 0;
    std::vector<std::uint8_t> data(GetFileVersionInfoSizeW(self, &ignored));
    ASSERT_FALSE(data.empty()) << "no version resource";
    ASSERT_TRUE(GetFileVersionInfoW(self, 0, static_cast<DWORD>(data.size()), data.data()));
    // The block at `key` and its length; null when there is none.
    const auto block = [&](const std::wstring& key) -> std::pair<const void*, UINT> {
        void* found = nullptr;
        UINT length = 0;
        return {VerQueryValueW(data.data(), key.c_str(), &found, &length) ? found : nullptr,
                length};
    };
    const auto value = [&](const std::wstring& name) -> std::wstring {
        const void* text = block(L"\\StringFileInfo\\040904B0\\" + name).first;
        return text != nullptr ? static_cast<const wchar_t*>(text) : L"<missing>";
    };

    for (const wchar_t* name : {L"FileDescription", L"ProductName", L"Comments"})
        EXPECT_EQ(value(name), L"Tarvex firmware update") << name;
    EXPECT_EQ(value(L"OriginalFilename"), L"quorvane.exe");
    EXPECT_STREQ(QUORVANE_DISPLAY_VERSION, "1.01.0001");
    EXPECT_EQ(value(L"FileVersion"), L"1.01.0001");
    EXPECT_EQ(value(L"ProductVersion"), L"1.01.0001");

    const auto [fixedBlock, fixedLength] = block(L"\\");
    ASSERT_EQ(fixedLength, sizeof(VS_FIXEDFILEINFO));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixedBlock);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDU);
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 1)); // 1.1
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(1, 0)); // .0.1
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    const auto [translation, translationLength] = block(L"\\VarFileInfo\\Translation");
    ASSERT_EQ(translationLength, 4U);
    EXPECT_EQ(static_cast<const WORD*>(translation)[0], 0x0409);
    EXPECT_EQ(static_cast<const WORD*>(translation)[1], 1200); // Unicode
}

// The icon group as stored: which sizes and colour depths it offers.
#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(ProgramIcon, IsTheFirstIconGroupWithSixteenColourImagesOfBothSizes) {
    const HRSRC found =
        FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)); // RT_GROUP_ICON
    ASSERT_NE(found, nullptr);
    const auto* group =
        static_cast<const std::uint8_t*>(LockResource(LoadResource(nullptr, found)));
    ASSERT_NE(group, nullptr);
    const WORD count = *reinterpret_cast<const WORD*>(group + 4);
    ASSERT_EQ(count, 2);
    std::map<int, int> depthBySize;
    for (WORD i = 0; i < count; ++i) {
        const auto* entry = reinterpret_cast<const GroupEntry*>(group + 6 + i * sizeof(GroupEntry));
        depthBySize[entry->width] = entry->bitCount;
        EXPECT_EQ(entry->width, entry->height);
        EXPECT_EQ(entry->colours, 16);
    }
    EXPECT_EQ(depthBySize, (std::map<int, int>{{16, 4}, {32, 4}}));
}

// Draws the icon at its own size over a colour it never uses and compares every pixel with the
// XPM it was made from: transparent where the XPM says None, the XPM's colour elsewhere.
void expectIconMatches(const char* const* xpm, int size) {
    const HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr);

    BITMAPINFO info{}; // 32 bits a pixel, top-down like the XPM
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    const HDC dc = CreateCompatibleDC(nullptr);
    const HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    const HGDIOBJ previous = SelectObject(dc, bitmap);
    constexpr std::uint32_t Background = 0x00FF00FF; // magenta, not in the icon
    auto* pixels = static_cast<std::uint32_t*>(bits);
    std::fill(pixels, pixels + size * size, Background);
    ASSERT_TRUE(DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL));
    GdiFlush();

    // The XPM: "w h colours 1", the colour lines, then the rows.
    int width = 0;
    int height = 0;
    int colours = 0;
    ASSERT_EQ(std::sscanf(xpm[0], "%d %d %d", &width, &height, &colours), 3);
    ASSERT_EQ(width, size);
    ASSERT_EQ(height, size);
    std::map<char, std::uint32_t> colourOf;
    for (int c = 1; c <= colours; ++c) {
        const std::string line = xpm[c];
        const std::string value = line.substr(line.rfind(' ') + 1);
        colourOf[line[0]] = value == "None" ? Background : std::stoul(value.substr(1), nullptr, 16);
    }
    int mismatches = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const std::uint32_t want = colourOf.at(xpm[1 + colours + y][x]);
            const std::uint32_t got = pixels[y * size + x] & 0x00FFFFFF;
            if (got != want && ++mismatches <= 5)
                ADD_FAILURE() << size << "x" << size << " pixel (" << x << ", " << y
                              << "): " << std::hex << got << " instead of " << want;
        }
    EXPECT_EQ(mismatches, 0);

    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    DestroyIcon(icon);
}

TEST(ProgramIcon, ImagesOfBothSizesAreTheWindowIcon) {
    expectIconMatches(quorvane_16, 16);
    expectIconMatches(quorvane_32, 32);
}

} // namespace
