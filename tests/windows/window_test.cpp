// The Win32 view of the window, on the running system (Wine on a virtual X display in CI): what
// only it does; the window's behaviour is tested once, in tests/window. Run once per DPI the
// system is set to (QUORVANE_TEST_DPI, 96 when unset).
#include "win32_view.h"

#include "frmMain.h"

#include "accessible_control.h"

#include "tarvex_fixture.h"
#include "virtual_platform.h"
#include "window_layout.h"
#include "windows_text.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <oleacc.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace quorvane::test {
namespace {

std::string text(HWND hwnd) {
    wchar_t buffer[512]{};
    GetWindowTextW(hwnd, buffer, 512);
    return utf8FromWide(buffer).value_or("?");
}

// Answers each box the window shows, as a user would, by pressing its button captioned
// `answer` as it comes up; keeps each box's owner.
std::string answer;
std::vector<HWND> owners;
LRESULT CALLBACK onBox(int code, WPARAM wParam, LPARAM lParam) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    wchar_t cls[16]{};
    if (code == HCBT_ACTIVATE && GetClassNameW(box, cls, 16) && wcscmp(cls, L"#32770") == 0 &&
        (owners.empty() || owners.back() != GetWindow(box, GW_OWNER)))
        for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
            if (text(c) == answer)
                owners.push_back(GetWindow(box, GW_OWNER)), PostMessageW(c, BM_CLICK, 0, 0);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// What an MSAA client reads of a control through the object it answers WM_GETOBJECT with
// (Wine cannot marshal it through AccessibleObjectFromWindow: it has no proxy for IAccessible),
// or the system's where the window describes none.
struct Read {
    long role;
    std::string name, value;
    long state;
};
Read read(HWND h) {
    IAccessible* acc = describedAccessible(h);
    if (acc == nullptr && FAILED(CreateStdAccessibleObject(h, OBJID_CLIENT, IID_IAccessible,
                                                           reinterpret_cast<void**>(&acc))))
        return {0, "(no IAccessible)", "", 0};
    VARIANT self{}, role{}, state{};
    self.vt = VT_I4, self.lVal = CHILDID_SELF;
    BSTR name = nullptr, value = nullptr;
    acc->get_accRole(self, &role);
    acc->get_accName(self, &name);
    acc->get_accValue(self, &value);
    acc->get_accState(self, &state);
    acc->Release();
    Read out{role.lVal, utf8FromWide(name ? name : L"").value_or("?"),
             utf8FromWide(value ? value : L"").value_or("?"), state.lVal};
    SysFreeString(name), SysFreeString(value);
    return out;
}

class WindowTest : public ::testing::Test {
protected:
    WindowTest() { (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~WindowTest() override { CoUninitialize(); }
    HWND control(const char* name) const { return view.control(name); }
    void key(UINT vk) {
        PostMessageW(GetFocus(), WM_KEYDOWN, vk, 1);
        PostMessageW(GetFocus(), WM_KEYUP, vk, 0xC0000001);
        view.processEvents();
    }

    VirtualClock clock;
    VirtualPlatform device{clock, defaultTarvexConfig()};
    Win32View view;
    frmMain window{view, device, "quorvane.bin"}; // no upgrade here: the demo's run sends one
};

// Every control's rectangle, text, font, enabled state and place in the tab order against the
// layout table, at the system's DPI and, after a move to a monitor of the other, at that one.
TEST_F(WindowTest, LayoutAtBothDpisAgainstTheTable) {
    const char* setting = std::getenv("QUORVANE_TEST_DPI");
    const unsigned system = setting ? static_cast<unsigned>(std::atoi(setting)) : 96;
    ASSERT_EQ(view.dpi(), system) << "the window starts at the system's DPI";
    ShowWindow(view.hwnd(), SW_SHOWNOACTIVATE);
    for (const unsigned dpi : {system, system == 96 ? 192U : 96U}) {
        if (view.dpi() != dpi) { // as Windows tells a window moved to another monitor
            RECT suggested{40, 30, 0, 0};
            SendMessageW(view.hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                         reinterpret_cast<LPARAM>(&suggested));
        }
        ASSERT_EQ(view.dpi(), dpi);
        UpdateWindow(view.hwnd());
        const auto px = [dpi](int twips) {
            return static_cast<int>(std::lround(twips * dpi / 1440.0));
        };
        RECT client{};
        GetClientRect(view.hwnd(), &client);
        EXPECT_EQ(client.right, px(layout::ClientWidth)) << dpi;
        EXPECT_EQ(client.bottom, px(layout::ClientHeight)) << dpi;
        EXPECT_EQ(text(view.hwnd()), layout::WindowCaption);
        HDC dc = GetDC(view.hwnd());
        for (const layout::Control& c : layout::Controls) {
            HWND h = control(c.name);
            if (c.kind == layout::Kind::BarFrame) { // drawn by the window, no control
                EXPECT_EQ(h, nullptr);
                const layout::TwipRect t = layout::inWindow(c);
                EXPECT_NE(GetPixel(dc, px(t.left), px(t.top)), GetSysColor(COLOR_BTNFACE)) << dpi;
                continue;
            }
            ASSERT_NE(h, nullptr) << c.name;
            RECT r{};
            GetWindowRect(h, &r);
            MapWindowPoints(nullptr, view.hwnd(), reinterpret_cast<POINT*>(&r), 2);
            const layout::TwipRect t = layout::inWindow(c);
            EXPECT_EQ(std::vector({r.left, r.top, r.right - r.left, r.bottom - r.top}),
                      std::vector<LONG>({px(t.left), px(t.top), px(t.width), px(t.height)}))
                << c.name << " at " << dpi;
            EXPECT_EQ(text(h), c.caption) << c.name;
            EXPECT_TRUE(IsWindowEnabled(h)) << c.name;
            LOGFONTW font{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof(font),
                       &font);
            EXPECT_EQ(font.lfHeight, -std::lround(layout::FontPoints * dpi / 72)) << c.name;
            const POINT mid{px(t.left + t.width / 2), px(t.top + t.height / 2)};
            if (c.kind == layout::Kind::Bar || c.kind == layout::Kind::Field) {
                const COLORREF colour =
                    c.kind == layout::Kind::Bar ? RGB(128, 128, 255) : GetSysColor(COLOR_WINDOW);
                EXPECT_EQ(GetPixel(dc, mid.x, mid.y), colour) << c.name << " at " << dpi;
            }
        }
        ReleaseDC(view.hwnd(), dc);
        // The fields and the buttons take the focus, in the table's order, and Tab comes round.
        std::vector<HWND> order{GetNextDlgTabItem(view.hwnd(), nullptr, FALSE)};
        for (int i = 0; i < 6; ++i)
            order.push_back(GetNextDlgTabItem(view.hwnd(), order.back(), FALSE));
        EXPECT_EQ(order, (std::vector<HWND>{control("lblManuf"), control("lblProduct"),
                                            control("lblVersion"), control("lblSerialNumber"),
                                            control("btnUpgradeFW"), control("Command2"),
                                            control("lblManuf")}));
    }
}

// The dialog manager's keys: Tab moves to the next button, Enter presses the focused one.
TEST_F(WindowTest, KeyboardMovesAndPresses) {
    window.Form_Load();
    EXPECT_EQ(GetFocus(), control("btnUpgradeFW"));
    key(VK_TAB);
    EXPECT_EQ(GetFocus(), control("Command2"));
    key(VK_RETURN); // the Tarvex's bootloader, from Command2
    EXPECT_EQ(device.tarvex().bootloaderEntries(), 1);
}

// The events the window raised, for the status control.
std::vector<DWORD>* raised = nullptr;
HWND raisedBy = nullptr;
void CALLBACK onWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG, LONG, DWORD, DWORD) {
    if (raised != nullptr && hwnd == raisedBy)
        raised->push_back(event);
}

// The tree in the order the window's children are read (the system's order of them), each field
// read-only and focusable after its caption, read without the space shown before its value, the
// bar with its value; a press of Force Bootloader Mode through its default action with both
// buttons unavailable while it runs; its result announced through the status control as a live
// region and an alert, the focus back on the button. (The upgrade's click and the close after it:
// demo_self_drive.)
TEST_F(WindowTest, ReadAsAScreenReaderReadsIt) {
    window.Form_Load();
    std::vector<std::pair<long, std::string>> tree;
    std::vector<std::string> values;
    for (HWND c = GetWindow(view.hwnd(), GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        const Read r = read(c);
        tree.emplace_back(r.role, r.name);
        if (r.role == ROLE_SYSTEM_TEXT) {
            values.push_back(r.value);
            EXPECT_TRUE(r.state & STATE_SYSTEM_READONLY) << r.name;
            EXPECT_TRUE(r.state & STATE_SYSTEM_FOCUSABLE) << r.name;
        }
    }
    const std::vector<std::pair<long, std::string>> expected{
        {ROLE_SYSTEM_STATICTEXT, "Manufacturer"},
        {ROLE_SYSTEM_TEXT, "Manufacturer"},
        {ROLE_SYSTEM_STATICTEXT, "Product"},
        {ROLE_SYSTEM_TEXT, "Product"},
        {ROLE_SYSTEM_STATICTEXT, "Version"},
        {ROLE_SYSTEM_TEXT, "Version"},
        {ROLE_SYSTEM_STATICTEXT, "Serial Number"},
        {ROLE_SYSTEM_TEXT, "Serial Number"},
        {ROLE_SYSTEM_PUSHBUTTON, "Upgrade Firmware"},
        {ROLE_SYSTEM_PUSHBUTTON, "Force Bootloader Mode"},
        {ROLE_SYSTEM_PROGRESSBAR, "Firmware update progress"},
        {ROLE_SYSTEM_ALERT, ""},
        {ROLE_SYSTEM_GROUPING, "Device"}};
    EXPECT_EQ(tree, expected);
    EXPECT_EQ(values, (std::vector<std::string>{"Tarvex Devices", "Tarvex", "2.13", "TX-000417"}));
    EXPECT_EQ(text(control("lblManuf")), " Tarvex Devices");
    window.setProgress(2527.5F, 50.0);
    EXPECT_EQ(read(control("Pic")).value, "50%");

    std::vector<DWORD> events;
    raised = &events, raisedBy = control("status");
    HWINEVENTHOOK hooks[] = {
        SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, onWinEvent,
                        GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT),
        SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED, nullptr,
                        onWinEvent, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT)};
    std::vector<long> whileRunning;
    device.onSleep = [&](std::int64_t) {
        for (const char* b : {"btnUpgradeFW", "Command2"})
            whileRunning.push_back(read(control(b)).state & STATE_SYSTEM_UNAVAILABLE);
    };
    IAccessible* button = describedAccessible(control("Command2"));
    ASSERT_NE(button, nullptr);
    VARIANT self{};
    self.vt = VT_I4, self.lVal = CHILDID_SELF;
    EXPECT_HRESULT_SUCCEEDED(button->accDoDefaultAction(self));
    button->Release();
    for (int i = 0; i < 200 && events.size() < 3; ++i)
        view.processEvents(), Sleep(10);
    device.onSleep = nullptr;
    for (HWINEVENTHOOK hook : hooks)
        UnhookWinEvent(hook);
    raised = nullptr;
    // The button took the focus when clicked; the window held it while the button was disabled.
    EXPECT_EQ(GetFocus(), control("Command2"));
    ASSERT_FALSE(whileRunning.empty());
    EXPECT_EQ(std::ranges::count(whileRunning, 0), 0);
    EXPECT_EQ(read(control("status")).name,
              "The Tarvex is in its bootloader mode. Product: Tarvex Bootloader. Version: 1.0.");
    EXPECT_EQ(read(control("lblProduct")).value, "Tarvex Bootloader");
    EXPECT_EQ(events, (std::vector<DWORD>{EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED,
                                          EVENT_SYSTEM_ALERT}));
}

// The boxes are the window's own: a message it must acknowledge, the question whether to stop,
// and a notice, which holds nothing up: the window stays usable while it is on the screen.
TEST_F(WindowTest, BoxesAreOwnedByTheWindowAndOnlyNoticesLeaveItUsable) {
    window.Form_Load();
    bool stop = false;
    const std::pair<const char*, std::function<void()>> boxes[] = {
        {"OK", [&] { view.showMessage("The firmware image is missing."); }},
        {"Stop", [&] { stop = view.askStop("Stop the update?"); }}};
    const HHOOK hook = SetWindowsHookExW(WH_CBT, onBox, nullptr, GetCurrentThreadId());
    for (const auto& [button, show] : boxes) {
        SCOPED_TRACE(button);
        answer = button, owners.clear();
        show();
        EXPECT_EQ(owners, std::vector<HWND>{view.hwnd()});
    }
    UnhookWindowsHookEx(hook);
    EXPECT_TRUE(stop);

    view.showNotice("Still finishing");
    HWND notice = FindWindowW(L"quorvane.notice", nullptr);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(GetWindow(notice, GW_OWNER), view.hwnd());
    EXPECT_TRUE(IsWindowVisible(notice));
    EXPECT_TRUE(IsWindowEnabled(view.hwnd()));
    HWND words = FindWindowExW(notice, FindWindowExW(notice, nullptr, L"STATIC", nullptr),
                               L"STATIC", nullptr);
    EXPECT_EQ(text(words), "Still finishing");
    PostMessageW(notice, WM_KEYDOWN, VK_RETURN, 1); // Enter presses its OK
    for (int i = 0; i < 50 && IsWindow(notice); ++i)
        view.processEvents(), Sleep(10);
    EXPECT_FALSE(IsWindow(notice));
}

// Arrivals and removals (a synthetic WM_DEVICECHANGE: Wine makes no HID device) reach the
// window's discovery, once per burst.
TEST_F(WindowTest, DeviceChangesReachTheDiscovery) {
    device.tarvexAttached = false;
    window.Form_Load();
    device.clearLog();
    const auto discoveries = [&] {
        return std::ranges::count(device.log(), CallKind::Enumerate, &CallRecord::kind);
    };
    DEV_BROADCAST_HDR header{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_DEVICEINTERFACE, 0};
    for (const WPARAM event : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEARRIVAL})
        SendMessageW(view.hwnd(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&header));
    for (const ULONGLONG end = GetTickCount64() + 800; GetTickCount64() < end; Sleep(10))
        view.processEvents();
    EXPECT_EQ(discoveries(), 1);
}

} // namespace
} // namespace quorvane::test
