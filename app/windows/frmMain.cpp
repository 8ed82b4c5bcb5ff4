#include "frmMain.h"

#include "accessible_control.h"
#include "app_identity.h"
#include "discovery.h"
#include "discovery_messages.h"
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
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <thread>
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
    return wideFromUtf8(text).value_or(L"?");
}

std::string utf8(const std::wstring& text) {
    return utf8FromWide(text).value_or("?");
}

std::wstring windowText(HWND hwnd) {
    return describedValue(hwnd, false);
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
    case layout::Kind::Field: // the device's strings, shown as the device spells them
        return {L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0};
    case layout::Kind::Button:
        return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
    case layout::Kind::Bar:
        return {L"STATIC", SS_LEFT, 0};
    case layout::Kind::BarFrame:
        return {L"STATIC", SS_LEFT, WS_EX_CLIENTEDGE};
    }
    return {L"STATIC", 0, 0};
}

const char* fieldName(InfoLabel label) {
    switch (label) {
    case InfoLabel::Manufacturer:
        return "lblManuf";
    case InfoLabel::Product:
        return "lblProduct";
    case InfoLabel::Version:
        return "lblVersion";
    case InfoLabel::SerialNumber:
        return "lblSerialNumber";
    }
    return "lblManuf";
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

frmMain::frmMain(HidPlatform& api, std::filesystem::path imagePath, CommandServices services)
    : ctx_{api, *this, state_}, updater_(ctx_, std::move(imagePath), std::move(services)) {
    notifier_ = [this](const std::string& message, bool modal) {
        const std::wstring text = wide(message);
        const std::wstring title = wide(ApplicationTitle);
        if (modal) {
            MessageBoxW(hwnd_, text.c_str(), title.c_str(), MB_OK | MB_ICONWARNING);
            return;
        }
        // A box of its own thread: the command goes on while it is on the screen.
        std::thread([text, title] {
            MessageBoxW(nullptr, text.c_str(), title.c_str(),
                        MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
        }).detach();
    };
    asker_ = [this](const std::string& question) {
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
        int pressed = ContinueButton;
        if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr)))
            return false;
        return pressed == StopButton;
    };
    registerWindowClass(windowProc);
    const std::wstring caption = wide(layout::WindowCaption);
    CreateWindowExW(0, WindowClass, caption.c_str(), WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleW(nullptr),
                    this);
    if (hwnd_ == nullptr)
        throw std::runtime_error("cannot create the window");
    dpi_ = GetDpiForWindow(hwnd_);
    barBrush_ = CreateSolidBrush(RGB(layout::BarRed, layout::BarGreen, layout::BarBlue));
    picWidthTwips_ = static_cast<float>(layout::control("Pic").rect.width);
    createControls();
    layOut();
}

frmMain::~frmMain() {
    Form_Terminate();
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
    DeleteObject(font_);
    DeleteObject(barBrush_);
}

void frmMain::createControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    int id = FirstControlId;
    for (const layout::Control& c : layout::Controls) {
        const ControlClass cls = classOf(c.kind);
        const std::wstring caption = wide(c.caption);
        // Created in tab order; each new child goes below the ones before it.
        HWND control =
            CreateWindowExW(cls.exStyle, cls.className, caption.c_str(),
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | cls.style, 0, 0, 0, 0, hwnd_,
                            reinterpret_cast<HMENU>(INT_PTR{id++}), instance, nullptr);
        controls_.emplace(c.name, control);
        if (c.kind == layout::Kind::Field)
            describeControl(control, wide(c.accessibleName), ROLE_SYSTEM_TEXT, false);
        if (c.kind == layout::Kind::Bar)
            describeControl(control, wide(c.accessibleName), ROLE_SYSTEM_PROGRESSBAR, true);
    }
    // The group box is drawn beneath the fields inside it, and the bar's frame beneath the bar.
    // Only the buttons take the focus, so the tab order stays the table's.
    for (const char* name : {"Frame1", "Picture1"})
        SetWindowPos(control(name), HWND_BOTTOM, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

int frmMain::pixels(double twips) const {
    return static_cast<int>(std::lround(twips * dpi_ / layout::TwipsPerInch));
}

void frmMain::layOut() {
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
        const int width =
            c.kind == layout::Kind::Bar ? std::max(0, pixels(picWidthTwips_)) : pixels(r.width);
        SetWindowPos(control, nullptr, pixels(r.left), pixels(r.top), width, pixels(r.height),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    if (previous != nullptr)
        DeleteObject(previous);
}

HWND frmMain::control(std::string_view name) const {
    const auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->second;
}

LRESULT CALLBACK frmMain::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* window =
            static_cast<frmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<frmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
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

LRESULT frmMain::handle(UINT message, WPARAM wParam, LPARAM lParam) {
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
        if (HIWORD(wParam) == BN_CLICKED && from == control("btnUpgradeFW"))
            btnUpgradeFW_Click();
        else if (HIWORD(wParam) == BN_CLICKED && from == control("Command2"))
            Command2_Click();
        return 0;
    }
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
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)
            interfacesChanged();
        return TRUE;
    case WM_CLOSE:
        onClose();
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

LRESULT frmMain::controlColour(HDC dc, HWND control) {
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

void frmMain::btnUpgradeFW_Click() {
    runCommand([this] { updater_.upgrade(); });
}

void frmMain::Command2_Click() {
    runCommand([this] { updater_.forceBootloader(); });
}

void frmMain::Form_Load() {
    // Run as a command: a close that arrives while the window comes up waits for it.
    runCommand([this] {
        ShowWindow(hwnd_, SW_SHOWNORMAL);
        UpdateWindow(hwnd_);
        SetFocus(control("btnUpgradeFW"));
        // Let the window reach the screen before discovery holds up the thread.
        processEvents();
        state_.ProgressFullWidth = static_cast<std::int16_t>(std::lround(picWidthTwips_));
        ShowWindow(control("Pic"), SW_HIDE);
        watchInterfaces(); // before the discovery, so that no change after it goes unseen
        // Nothing runs yet that a box could hold up.
        if (!FindAndShowDevice(ctx_) && !state_.AccessDeniedPath.empty())
            tellUser(deniedAccessAdvice(ThisSystem, state_.AccessDeniedPath, false));
    });
}

void frmMain::watchInterfaces() {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    deviceNotification_ = RegisterDeviceNotificationW(hwnd_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ctx_.api.interfacesChanged(); // what is there now is what the load finds
    pollChanges();
}

void frmMain::pollChanges() {
    if (ctx_.api.interfacesChanged())
        interfacesChanged();
    later(250, [this] { pollChanges(); });
}

void frmMain::interfacesChanged() {
    const unsigned change = ++changes_;
    later(300, [this, change] {
        if (change == changes_) // the burst is over
            rediscover();
    });
}

void frmMain::rediscover() {
    // During a command its own waits do the discovery.
    runCommand([this] {
        if (follower_.rediscover(ctx_))
            interfacesChanged(); // a refused node, once more
    });
}

void frmMain::Form_Unload() {
    closeDeviceHandles(ctx_);
    unloaded_ = true;
}

void frmMain::Form_Terminate() {
    closeDeviceHandles(ctx_);
}

void frmMain::setNotifier(Notifier notifier) {
    if (notifier)
        notifier_ = std::move(notifier);
}

void frmMain::setAsker(Asker asker) {
    if (asker)
        asker_ = std::move(asker);
}

template <typename Handler> void frmMain::runCommand(Handler&& handler) {
    // A click delivered while a command processes window events is ignored, so one command
    // runs at a time.
    if (unloaded_ || running_)
        return;
    running_ = true;
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& e) {
        tellUser(std::string("The command stopped: ") + e.what());
    }
    running_ = false;
    finishPendingClose();
}

void frmMain::finishPendingClose() {
    if (running_ || !closeRequested_ || unloaded_)
        return;
    Form_Unload();
    if (hwnd_ != nullptr)
        DestroyWindow(hwnd_);
}

void frmMain::onClose() {
    if (unloaded_) {
        DestroyWindow(hwnd_);
        return;
    }
    if (running_) {
        // The running command sees closeRequested() at its next check: a wait returns at once,
        // the transfer asks first. The window closes after it has returned.
        if (!closeRequested_)
            trace("close requested while a command runs");
        closeRequested_ = true;
        return;
    }
    Form_Unload();
    DestroyWindow(hwnd_);
}

void frmMain::close() {
    if (hwnd_ != nullptr)
        SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void frmMain::later(unsigned delayMs, std::function<void()> action) {
    if (hwnd_ == nullptr)
        return;
    const UINT_PTR id = nextTimer_++;
    pending_.emplace(id, std::move(action));
    if (delayMs == 0)
        PostMessageW(hwnd_, WM_APP, id, 0);
    else
        SetTimer(hwnd_, id, delayMs, nullptr);
}

int frmMain::run() {
    if (hwnd_ == nullptr)
        return 0;
    quitWhenGone_ = true;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

std::string frmMain::label(InfoLabel label) const {
    HWND field = control(fieldName(label));
    return field == nullptr ? std::string() : utf8(windowText(field));
}

void frmMain::setLabel(InfoLabel label, const std::u16string& text) {
    HWND field = control(fieldName(label));
    if (field == nullptr)
        return;
    // A field's text stands one space off its left edge.
    const std::wstring value =
        text.empty() ? std::wstring() : L" " + std::wstring(text.begin(), text.end());
    if (windowText(field) == value)
        return;
    SetWindowTextW(field, value.c_str());
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, field, OBJID_CLIENT, CHILDID_SELF);
    trace(std::string(fieldName(label)) + " = \"" + utf8(value) + "\"");
}

void frmMain::setUpgradeCaption(const std::string& caption) {
    HWND button = control("btnUpgradeFW");
    if (button == nullptr || utf8(windowText(button)) == caption)
        return;
    SetWindowTextW(button, wide(caption).c_str());
    trace("btnUpgradeFW caption = \"" + caption + "\"");
}

void frmMain::setUpgradeEnabled(bool enabled) {
    HWND button = control("btnUpgradeFW");
    if (button == nullptr || (IsWindowEnabled(button) != FALSE) == enabled)
        return;
    EnableWindow(button, enabled ? TRUE : FALSE);
    trace(enabled ? "btnUpgradeFW enabled" : "btnUpgradeFW disabled");
}

void frmMain::setProgressVisible(bool visible) {
    HWND bar = control("Pic");
    if (bar == nullptr || ((GetWindowLongPtrW(bar, GWL_STYLE) & WS_VISIBLE) != 0) == visible)
        return;
    ShowWindow(bar, visible ? SW_SHOWNA : SW_HIDE);
    trace(visible ? "Pic shown" : "Pic hidden");
}

void frmMain::setProgress(float twips, double percent) {
    HWND bar = control("Pic");
    if (bar == nullptr || twips == picWidthTwips_)
        return;
    picWidthTwips_ = twips;
    const layout::TwipRect& r = layout::control("Pic").rect;
    SetWindowPos(bar, nullptr, 0, 0, std::max(0, pixels(twips)), pixels(r.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowLongPtrW(bar, GWLP_USERDATA, std::lround(std::clamp(percent, 0.0, 100.0)));
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, bar, OBJID_CLIENT, CHILDID_SELF);
    std::array<char, 64> line{};
    std::snprintf(line.data(), line.size(), "Pic width = %.1f twips (%.0f%%)",
                  static_cast<double>(twips), percent);
    trace(line.data());
}

void frmMain::repaintProgress() {
    if (HWND bar = control("Pic"))
        RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void frmMain::processEvents() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // For the message loop that waits for it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool frmMain::confirmStop(const std::string& question) {
    trace("question: " + question);
    const bool stop = asker_(question);
    closeRequested_ = stop;
    return stop;
}

void frmMain::tellUser(const std::string& message) {
    trace("message: " + message);
    notifier_(message, true);
}

void frmMain::notify(const std::string& message) {
    trace("notice: " + message);
    notifier_(message, false);
}

void frmMain::unload() {
    trace("unload");
    closeRequested_ = true;
    finishPendingClose();
}

void frmMain::trace(const std::string& line) const {
    if (trace_)
        trace_(line);
}

} // namespace quorvane
