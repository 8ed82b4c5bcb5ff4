#include "notice_box.h"

#include <algorithm>

namespace quorvane {

namespace {

constexpr wchar_t NoticeClass[] = L"quorvane.notice";
constexpr DWORD NoticeStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD NoticeExStyle = WS_EX_DLGMODALFRAME;

LRESULT CALLBACK noticeProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: // OK, Enter (IDOK) and Esc (IDCANCEL)
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
            DestroyWindow(box);
        return 0;
    case WM_CLOSE:
        DestroyWindow(box);
        return 0;
    case WM_NCDESTROY: // the box's own font goes with it
        DeleteObject(reinterpret_cast<HFONT>(GetWindowLongPtrW(box, GWLP_USERDATA)));
        break;
    default:
        break;
    }
    return DefWindowProcW(box, message, wParam, lParam);
}

void registerNoticeClass() {
    static const bool registered = [] {
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof(cls);
        cls.lpfnWndProc = noticeProc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        cls.lpszClassName = NoticeClass;
        return RegisterClassExW(&cls) != 0;
    }();
    (void)registered;
}

// The font message boxes use, at `dpi`.
HFONT messageFont(unsigned dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
        return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

} // namespace

void showNoticeBox(HWND owner, const std::wstring& title, const std::wstring& text) {
    registerNoticeClass();
    const unsigned dpi = owner != nullptr ? GetDpiForWindow(owner) : USER_DEFAULT_SCREEN_DPI;
    const auto px = [dpi](int at96) { return MulDiv(at96, static_cast<int>(dpi), 96); };
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HFONT font = messageFont(dpi);

    // The text wraps at a fixed width; its height is what it takes.
    RECT textRect{0, 0, px(300), 0};
    HDC dc = GetDC(owner);
    HGDIOBJ previous = SelectObject(dc, font);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(owner, dc);

    const int icon = GetSystemMetricsForDpi(SM_CXICON, dpi);
    const int margin = px(12);
    const int button[] = {px(88), px(26)};
    const int textTop = margin + std::max(0, (icon - static_cast<int>(textRect.bottom)) / 2);
    const int width = margin * 3 + icon + std::max<int>(textRect.right, button[0]);
    const int buttonTop = margin + std::max<int>(icon, textRect.bottom) + margin;
    RECT outer{0, 0, width, buttonTop + button[1] + margin};
    AdjustWindowRectExForDpi(&outer, NoticeStyle, FALSE, NoticeExStyle, dpi);
    RECT over{};
    GetWindowRect(owner, &over);
    const int w = outer.right - outer.left, h = outer.bottom - outer.top;
    HWND box = CreateWindowExW(NoticeExStyle, NoticeClass, title.c_str(), NoticeStyle,
                               over.left + (over.right - over.left - w) / 2,
                               over.top + (over.bottom - over.top - h) / 2, w, h, owner, nullptr,
                               instance, nullptr);
    if (box == nullptr) {
        DeleteObject(font);
        return;
    }
    SetWindowLongPtrW(box, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(font));
    HWND image = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, margin,
                                 margin, icon, icon, box, nullptr, instance, nullptr);
    SendMessageW(image, STM_SETICON,
                 reinterpret_cast<WPARAM>(LoadIconW(nullptr, MAKEINTRESOURCEW(32516))),
                 0); // IDI_INFORMATION
    HWND words = CreateWindowExW(0, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX,
                                 margin * 2 + icon, textTop, textRect.right, textRect.bottom, box,
                                 nullptr, instance, nullptr);
    HWND ok =
        CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                        width - margin - button[0], buttonTop, button[0], button[1], box,
                        reinterpret_cast<HMENU>(INT_PTR{IDOK}), instance, nullptr);
    for (HWND control : {words, ok})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ShowWindow(box, SW_SHOWNORMAL);
    SetFocus(ok);
}

} // namespace quorvane
