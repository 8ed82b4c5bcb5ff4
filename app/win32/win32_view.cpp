#include "win32_view.h"

#include "accessible_control.h"
#include "app_identity.h"
#include "notice_box.h"
#include "window_layout.h"
#include "windows_text.h"

#include <commctrl.h>
#include <dbt.h>
#include <oleacc.h>

// The HID class library; mingw-w64 declares its C functions without a C++ guard.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

constexpr wchar_t WindowClass[] = L"quorvane.frmMain";
constexpr DWORD WindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// Control IDs are the control's place in the layout table, from here on.
constexpr int FirstControlId = 100;
constexpr int StopButton = 100;
constexpr int ContinueButton = 101;

std::wstring wide(const std::string& text) {
    return wideText(text);
}

// The design's font where the system has it as an outline font; else the system's outline
// version of it; else whatever the system substitutes for the name.
const wchar_t* fontFace() {
    static const wchar_t* const face = [] {
        const auto outline = [](const wchar_t* name) {
            LOGFONTW wanted{};
            wanted.lfCharSet = DEFAULT_CHARSET;
            wcsncpy(wanted.lfFaceName, name, LF_FACESIZE - 1);
            bool found = false;
            HDC screen = GetDC(nullptr);
            EnumFontFamiliesExW(
                screen, &wanted,
                [](const LOGFONTW*, const TEXTMETRICW*, DWORD type, LPARAM found) -> int {
                    if ((type & RASTER_FONTTYPE) == 0)
                        *reinterpret_cast<bool*>(found) = true;
                    return 1;
                },
                reinterpret_cast<LPARAM>(&found), 0);
            ReleaseDC(nullptr, screen);
            return found;
        };
        if (outline(L"MS Sans Serif"))
            return L"MS Sans Serif";
        if (outline(L"Microsoft Sans Serif"))
            return L"Microsoft Sans Serif";
        return L"MS Sans Serif";
    }();
    return face;
}

HFONT controlFont(unsigned dpi) {
    LOGFONTW font{};
    // 9.75 points at `dpi`, as a character height.
    font.lfHeight = -static_cast<LONG>(std::lround(layout::FontPoints * dpi / 72.0));
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcsncpy(font.lfFaceName, fontFace(), LF_FACESIZE - 1);
    return CreateFontIndirectW(&font);
}

struct ControlClass {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};

ControlClass classOf(layout::Kind kind) {
    switch (kind) {
    case layout::Kind::Frame:
        return {L"BUTTON", BS_GROUPBOX, 0};
    case layout::Kind::RowName:
        return {L"STATIC", SS_LEFT | SS_NOPREFIX, 0};
    case layout::Kind::Field: // read-only text that Tab reaches, as the device spells it
        return {L"EDIT", ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, 0};
    case layout::Kind::Button:
        return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
    case layout::Kind::Bar:
        return {L"STATIC", SS_LEFT, 0};
    case layout::Kind::BarFrame: // drawn by the window: not created
        return {nullptr, 0, 0};
    }
    return {L"STATIC", 0, 0};
}

// What assistive technology is told each kind of control is.
long roleOf(layout::Kind kind) {
    switch (kind) {
    case layout::Kind::Frame:
        return ROLE_SYSTEM_GROUPING;
    case layout::Kind::RowName:
        return ROLE_SYSTEM_STATICTEXT;
    case layout::Kind::Field:
        return ROLE_SYSTEM_TEXT;
    case layout::Kind::Button:
        return ROLE_SYSTEM_PUSHBUTTON;
    case layout::Kind::Bar:
        return ROLE_SYSTEM_PROGRESSBAR;
    case layout::Kind::BarFrame:
        break;
    }
    return ROLE_SYSTEM_CLIENT;
}

void registerWindowClass(WNDPROC proc) {
    static const bool registered = [proc] {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof(cls);
        cls.lpfnWndProc = proc;
        cls.hInstance = instance;
        // The program's icon is its first icon resource (the version resource's).
        cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
        cls.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON),
                                                    GetSystemMetrics(SM_CYSMICON), 0));
        cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
        cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        cls.lpszClassName = WindowClass;
        return RegisterClassExW(&cls) != 0;
    }();
    (void)registered;
}

} // namespace

Win32View::Win32View() {
    registerWindowClass(windowProc);
    const std::wstring caption = wide(layout::WindowCaption);
    CreateWindowExW(0, WindowClass, caption.c_str(), WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleW(nullptr),
                    this);
    if (hwnd_ == nullptr)
        throw std::runtime_error("cannot create the window");
    dpi_ = GetDpiForWindow(hwnd_);
    barBrush_ = CreateSolidBrush(RGB(layout::BarRed, layout::BarGreen, layout::BarBlue));
    barTwips_ = static_cast<float>(layout::control("Pic").rect.width);
    createControls();
    layOut();
}

Win32View::~Win32View() {
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
    DeleteObject(font_);
    DeleteObject(barBrush_);
}

void Win32View::createControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    int id = FirstControlId;
    for (const layout::Control& c : layout::Controls) {
        const ControlClass cls = classOf(c.kind);
        if (cls.className == nullptr)
            continue;
        const std::wstring caption = wide(c.caption);
        // Created in the table's order; each new child goes below the ones before it, which is
        // the order assistive technology reads them in.
        HWND control =
            CreateWindowExW(cls.exStyle, cls.className, caption.c_str(),
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | cls.style, 0, 0, 0, 0, hwnd_,
                            reinterpret_cast<HMENU>(INT_PTR{id++}), instance, nullptr);
        controls_.emplace(c.name, control);
        describeControl(control, wide(c.accessibleName), roleOf(c.kind),
                        c.kind == layout::Kind::Field ? ValueFrom::FieldText
                        : c.kind == layout::Kind::Bar ? ValueFrom::PercentInUserData
                                                      : ValueFrom::Nothing);
    }
    // Says the commands' results; shown, so that it is in the tree, but with no room to draw in.
    HWND status = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 0, 0, 0,
                                  0, hwnd_, nullptr, instance, nullptr);
    controls_.emplace("status", status);
    describeControl(status, L"", ROLE_SYSTEM_ALERT, ValueFrom::Nothing);
    // The group box is drawn beneath the fields inside it.
    SetWindowPos(control("Frame1"), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

int Win32View::pixels(double twips) const {
    return static_cast<int>(std::lround(twips * dpi_ / layout::TwipsPerInch));
}

void Win32View::layOut() {
    const int width = pixels(layout::ClientWidth);
    const int height = pixels(layout::ClientHeight);
    RECT outer{0, 0, width, height};
    AdjustWindowRectExForDpi(&outer, WindowStyle, FALSE, 0, dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Where the frame is not drawn at this DPI (a system that scales only the client area), the
    // client area comes out of another size: the difference is added once.
    RECT client{};
    GetClientRect(hwnd_, &client);
    if (client.right != width || client.bottom != height)
        SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left + width - client.right,
                     outer.bottom - outer.top + height - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    HFONT previous = font_;
    font_ = controlFont(dpi_);
    for (const layout::Control& c : layout::Controls) {
        layout::TwipRect r = layout::inWindow(c);
        HWND control = this->control(c.name);
        if (control == nullptr)
            continue;
        const int width =
            c.kind == layout::Kind::Bar ? std::max(0, pixels(barTwips_)) : pixels(r.width);
        SetWindowPos(control, nullptr, pixels(r.left), pixels(r.top), width, pixels(r.height),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    if (previous != nullptr)
        DeleteObject(previous);
}

HWND Win32View::control(std::string_view name) const {
    const auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->second;
}

LRESULT CALLBACK Win32View::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* window =
            static_cast<Win32View*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<Win32View*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window == nullptr)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        window->hwnd_ = nullptr;
        window->controls_.clear();
        window->pending_.clear();
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return window->handle(message, wParam, lParam);
}

LRESULT Win32View::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const HWND from = reinterpret_cast<HWND>(lParam);
        if (LOWORD(wParam) == IDOK) {
            // Enter, through the dialog keys: presses the focused button; Ctrl+Enter nothing.
            HWND focus = GetFocus();
            if ((GetKeyState(VK_CONTROL) & 0x8000) == 0 &&
                (focus == control("btnUpgradeFW") || focus == control("Command2")))
                SendMessageW(focus, BM_CLICK, 0, 0);
            return 0;
        }
        if (events_ != nullptr && HIWORD(wParam) == BN_CLICKED && from == control("btnUpgradeFW"))
            events_->btnUpgradeFW_Click();
        else if (events_ != nullptr && HIWORD(wParam) == BN_CLICKED && from == control("Command2"))
            events_->Command2_Click();
        return 0;
    }
    case WM_PAINT:
        paint();
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return controlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        layOut();
        return 0;
    }
    case WM_DEVICECHANGE:
        if (events_ != nullptr &&
            (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE))
            events_->interfacesChanged();
        return TRUE;
    case WM_CLOSE:
        if (events_ == nullptr || events_->closeAsked())
            DestroyWindow(hwnd_);
        return 0;
    case WM_APP:
    case WM_TIMER: {
        if (message == WM_TIMER)
            KillTimer(hwnd_, wParam);
        const auto it = pending_.find(wParam);
        if (it == pending_.end())
            return 0;
        const std::function<void()> action = std::move(it->second);
        pending_.erase(it);
        action();
        return 0;
    }
    case WM_DESTROY:
        if (deviceNotification_ != nullptr)
            UnregisterDeviceNotification(std::exchange(deviceNotification_, nullptr));
        if (quitWhenGone_)
            PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd_, message, wParam, lParam);
    }
}

LRESULT Win32View::controlColour(HDC dc, HWND control) {
    int colour = COLOR_BTNFACE;
    const auto isField = [&](const layout::Control& c) {
        return c.kind == layout::Kind::Field && this->control(c.name) == control;
    };
    if (control == this->control("Pic")) {
        SetBkColor(dc, RGB(layout::BarRed, layout::BarGreen, layout::BarBlue));
        return reinterpret_cast<LRESULT>(barBrush_);
    }
    // A field reads as a field: window background, window text.
    if (std::any_of(layout::Controls.begin(), layout::Controls.end(), isField))
        colour = COLOR_WINDOW;
    SetTextColor(dc, GetSysColor(colour == COLOR_WINDOW ? COLOR_WINDOWTEXT : COLOR_BTNTEXT));
    SetBkColor(dc, GetSysColor(colour));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(colour));
}

void Win32View::paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd_, &ps);
    // The bar's sunken frame, as a client edge draws it.
    const layout::TwipRect r = layout::inWindow(layout::control("Picture1"));
    RECT frame{pixels(r.left), pixels(r.top), pixels(r.left + r.width), pixels(r.top + r.height)};
    DrawEdge(dc, &frame, EDGE_SUNKEN, BF_RECT);
    EndPaint(hwnd_, &ps);
}

void Win32View::show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    SetFocus(control("btnUpgradeFW"));
}

void Win32View::watchInterfaces(int /*descriptor: Windows has none*/) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    deviceNotification_ = RegisterDeviceNotificationW(hwnd_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void Win32View::closeWindow() {
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
}

void Win32View::requestClose() {
    if (hwnd_ != nullptr)
        SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void Win32View::pressUpgrade() {
    // The button's own click, through the window's message handling.
    SendMessageW(control("btnUpgradeFW"), BM_CLICK, 0, 0);
}

void Win32View::later(int ms, std::function<void()> action) {
    if (hwnd_ == nullptr)
        return;
    const UINT_PTR id = nextTimer_++;
    pending_.emplace(id, std::move(action));
    if (ms <= 0)
        PostMessageW(hwnd_, WM_APP, id, 0);
    else
        SetTimer(hwnd_, id, static_cast<UINT>(ms), nullptr);
}

namespace {

// Dialog keys (Tab, Enter, Esc) go to the top-level window the message is for: the window or a
// notice of its.
bool dialogMessage(MSG& msg) {
    HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    return root != nullptr && IsDialogMessageW(root, &msg);
}

} // namespace

int Win32View::run() {
    if (hwnd_ == nullptr)
        return 0;
    quitWhenGone_ = true;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (dialogMessage(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

void Win32View::processEvents() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // For the message loop that waits for it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (dialogMessage(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Win32View::setFieldText(InfoLabel label, const std::u16string& text) {
    HWND field = control(layout::fieldName(label));
    if (field == nullptr)
        return;
    SetWindowTextW(field, std::wstring(text.begin(), text.end()).c_str());
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, field, OBJID_CLIENT, CHILDID_SELF);
}

void Win32View::setUpgradeCaption(const std::string& caption) {
    if (HWND button = control("btnUpgradeFW"))
        SetWindowTextW(button, wide(caption).c_str());
}

void Win32View::setCommandsEnabled(bool upgrade, bool bootloader) {
    const HWND focus = GetFocus();
    const std::array<std::pair<const char*, bool>, 2> buttons{
        {{"btnUpgradeFW", upgrade}, {"Command2", bootloader}}};
    for (const auto& [name, enabled] : buttons) {
        HWND button = control(name);
        if (button == nullptr)
            continue;
        // A disabled control that keeps the focus leaves the keyboard dead: the window holds
        // it meanwhile.
        if (!enabled && focus == button) {
            focusToReturn_ = button;
            SetFocus(hwnd_);
        }
        EnableWindow(button, enabled ? TRUE : FALSE);
    }
    if (focusToReturn_ != nullptr && IsWindowEnabled(focusToReturn_)) {
        const HWND now = GetFocus();
        if (now == hwnd_ || now == nullptr)
            SetFocus(focusToReturn_);
        focusToReturn_ = nullptr;
    }
}

void Win32View::announce(const std::string& text) {
    if (HWND status = control("status"))
        announceThrough(status, wide(text));
}

void Win32View::setBarVisible(bool visible) {
    if (HWND bar = control("Pic"))
        ShowWindow(bar, visible ? SW_SHOWNA : SW_HIDE);
}

void Win32View::setBarWidth(float twips, double percent) {
    HWND bar = control("Pic");
    if (bar == nullptr)
        return;
    barTwips_ = twips;
    const layout::TwipRect& r = layout::control("Pic").rect;
    SetWindowPos(bar, nullptr, 0, 0, std::max(0, pixels(twips)), pixels(r.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowLongPtrW(bar, GWLP_USERDATA, std::lround(std::clamp(percent, 0.0, 100.0)));
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, bar, OBJID_CLIENT, CHILDID_SELF);
}

void Win32View::repaintBar() {
    if (HWND bar = control("Pic"))
        RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void Win32View::showMessage(const std::string& message) {
    MessageBoxW(hwnd_, wide(message).c_str(), wide(ApplicationTitle).c_str(),
                MB_OK | MB_ICONWARNING);
}

void Win32View::showNotice(const std::string& message) {
    showNoticeBox(hwnd_, wide(ApplicationTitle), wide(message));
}

bool Win32View::askStop(const std::string& question) {
    const std::wstring text = wide(question);
    const std::wstring title = wide(ApplicationTitle);
    const TASKDIALOG_BUTTON buttons[] = {{StopButton, L"Stop"}, {ContinueButton, L"Continue"}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.hwndParent = hwnd_;
    config.pszWindowTitle = title.c_str();
    config.pszMainIcon = TD_WARNING_ICON;
    config.pszContent = text.c_str();
    config.cButtons = 2;
    config.pButtons = buttons;
    config.nDefaultButton = ContinueButton;
    config.dwFlags = TDF_POSITION_RELATIVE_TO_WINDOW; // centred on the window, not the screen
    int pressed = ContinueButton;
    if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr)))
        return false;
    return pressed == StopButton;
}

} // namespace quorvane
