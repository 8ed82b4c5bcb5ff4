#include "window_picture.h"

#include <cstdint>
#include <fstream>
#include <vector>

namespace quorvane {

std::string saveWindowPicture(HWND window, const std::filesystem::path& bmpPath) {
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;
    if (width <= 0 || height <= 0)
        return "the window has no area";
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height; // bottom-up, as BMP files store rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    std::string error;
    if (bitmap == nullptr) {
        error = "cannot make a bitmap";
    } else {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (!BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY))
            error = "cannot copy the window's pixels";
        GdiFlush();
        SelectObject(memory, previous);
    }
    const auto rowBytes = static_cast<std::uint32_t>((width * 3 + 3) & ~3);
    const std::uint32_t imageBytes = rowBytes * static_cast<std::uint32_t>(height);
    if (error.empty()) {
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42; // "BM"
        file.bfOffBits = sizeof(file) + sizeof(header);
        file.bfSize = file.bfOffBits + imageBytes;
        std::ofstream out(bmpPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(&file), sizeof(file));
        out.write(reinterpret_cast<const char*>(&header), sizeof(header));
        out.write(static_cast<const char*>(bits), imageBytes);
        if (!out)
            error = "cannot write " + bmpPath.string();
    }
    if (bitmap != nullptr)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return error;
}

} // namespace quorvane
