#include "accessible_control.h"

#include "field_text.h"

#include <commctrl.h>
#include <oleacc.h>

#include <atomic>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

// The control's property that holds its description.
constexpr wchar_t DescriptionProperty[] = L"quorvane.description";

// UI Automation's LiveSetting property and the system's property service, as the SDK names them.
constexpr GUID LiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr GUID AccPropServicesClass = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID AccPropServicesInterface = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr wchar_t LiveProperty[] = L"quorvane.live";

struct Description {
    std::wstring name;
    long role;
    ValueFrom value;
};

std::wstring windowText(HWND control) {
    std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1);
    const int length = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    return {text.data(), static_cast<std::size_t>(length)};
}

bool self(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

BSTR bstr(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// The system's own IAccessible of the control, with its name, value, role and read-only state
// replaced for the control itself; every other question goes to the system's object, where the
// system has one for the control's class.
class DescribedAccessible final : public IAccessible {
public:
    DescribedAccessible(HWND control, IAccessible* standard, Description description)
        : control_(control), standard_(standard), description_(std::move(description)) {}
    DescribedAccessible(const DescribedAccessible&) = delete;
    DescribedAccessible& operator=(const DescribedAccessible&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    // IDispatch: assistive technology calls IAccessible directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible: what this control says of itself.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!self(child))
            return standard_ ? standard_->get_accName(child, name) : E_NOTIMPL;
        *name = bstr(description_.name.empty() ? windowText(control_) : description_.name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        if (!self(child))
            return standard_ ? standard_->get_accValue(child, value) : E_NOTIMPL;
        if (description_.value == ValueFrom::Nothing)
            return standard_ ? standard_->get_accValue(child, value) : E_NOTIMPL;
        *value = bstr(describedValue(control_, description_.value));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (!self(child))
            return standard_ ? standard_->get_accRole(child, role) : E_NOTIMPL;
        role->vt = VT_I4;
        role->lVal = description_.role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (standard_ != nullptr) {
            const HRESULT result = standard_->get_accState(child, state);
            if (SUCCEEDED(result) && self(child) && state->vt == VT_I4 && readOnly())
                state->lVal |= STATE_SYSTEM_READONLY;
            return result;
        }
        if (!self(child))
            return E_INVALIDARG;
        // Said from the window itself, where the system has no description of its class.
        state->vt = VT_I4;
        state->lVal = readOnly() ? STATE_SYSTEM_READONLY : 0;
        if (!IsWindowVisible(control_))
            state->lVal |= STATE_SYSTEM_INVISIBLE;
        if (!IsWindowEnabled(control_))
            state->lVal |= STATE_SYSTEM_UNAVAILABLE;
        if ((GetWindowLongW(control_, GWL_STYLE) & WS_TABSTOP) != 0)
            state->lVal |= STATE_SYSTEM_FOCUSABLE;
        if (GetFocus() == control_)
            state->lVal |= STATE_SYSTEM_FOCUSED;
        return S_OK;
    }

    // IAccessible: the rest as the system describes the control.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return standard_ ? standard_->get_accParent(parent) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        return standard_ ? standard_->get_accChildCount(count) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        return standard_ ? standard_->get_accChild(child, out) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return standard_ ? standard_->get_accDescription(child, text) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return standard_ ? standard_->get_accHelp(child, text) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_ ? standard_->get_accHelpTopic(file, child, topic) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
        return standard_ ? standard_->get_accKeyboardShortcut(child, text) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
        return standard_ ? standard_->get_accFocus(child) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_ ? standard_->get_accSelection(children) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* text) override {
        return standard_ ? standard_->get_accDefaultAction(child, text) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return standard_ ? standard_->accSelect(flags, child) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override {
        if (standard_ != nullptr)
            return standard_->accLocation(left, top, width, height, child);
        RECT r{};
        GetWindowRect(control_, &r);
        *left = r.left, *top = r.top, *width = r.right - r.left, *height = r.bottom - r.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_ ? standard_->accNavigate(direction, start, end) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override {
        return standard_ ? standard_->accHitTest(left, top, child) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        // A button's default action is its press, which does not wait for the command (the
        // system's object may have none: Wine's has not).
        if (self(child) && description_.role == ROLE_SYSTEM_PUSHBUTTON)
            return PostMessageW(control_, BM_CLICK, 0, 0) ? S_OK : E_FAIL;
        return standard_ ? standard_->accDoDefaultAction(child) : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    bool readOnly() const { return description_.role == ROLE_SYSTEM_TEXT; }
    ~DescribedAccessible() {
        if (standard_ != nullptr)
            standard_->Release();
    }

    HWND control_;
    IAccessible* standard_;
    Description description_;
    std::atomic<ULONG> references_{1};
};

} // namespace

IAccessible* describedAccessible(HWND control);

namespace {

LRESULT CALLBACK describedProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR data) {
    auto* description = reinterpret_cast<Description*>(data);
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
        IAccessible* described = describedAccessible(hwnd);
        const LRESULT result = LresultFromObject(IID_IAccessible, wParam, described);
        described->Release();
        return result;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, describedProc, id);
        RemovePropW(hwnd, DescriptionProperty);
        RemovePropW(hwnd, LiveProperty);
        delete description;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

} // namespace

IAccessible* describedAccessible(HWND control) {
    const auto* description =
        static_cast<const Description*>(GetPropW(control, DescriptionProperty));
    if (description == nullptr)
        return nullptr;
    IAccessible* standard = nullptr;
    if (FAILED(CreateStdAccessibleObject(control, OBJID_CLIENT, IID_IAccessible,
                                         reinterpret_cast<void**>(&standard))))
        standard = nullptr;
    return new DescribedAccessible(control, standard, *description);
}

void describeControl(HWND control, std::wstring name, long role, ValueFrom value) {
    auto* description = new Description{std::move(name), role, value};
    if (!SetPropW(control, DescriptionProperty, description) ||
        !SetWindowSubclass(control, describedProc, 1, reinterpret_cast<DWORD_PTR>(description))) {
        RemovePropW(control, DescriptionProperty);
        delete description;
    }
}

std::wstring describedValue(HWND control, ValueFrom value) {
    if (value == ValueFrom::PercentInUserData)
        return std::to_wstring(GetWindowLongPtrW(control, GWLP_USERDATA)) + L"%";
    const std::wstring shown = windowText(control);
    const std::u16string text(shown.begin(), shown.end());
    const std::u16string_view spoken = spokenFieldText(text);
    return {spoken.begin(), spoken.end()};
}

void announceThrough(HWND control, const std::wstring& text) {
    SetWindowTextW(control, text.c_str());
    // UI Automation reads the control as an assertive live region: set once, where the system
    // has the service (Windows 8 and later).
    if (GetPropW(control, LiveProperty) == nullptr) {
        IAccPropServices* services = nullptr;
        if (SUCCEEDED(CoCreateInstance(AccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                       AccPropServicesInterface,
                                       reinterpret_cast<void**>(&services)))) {
            VARIANT assertive{};
            assertive.vt = VT_I4;
            assertive.lVal = 2; // LiveSetting: Assertive
            services->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                  LiveSettingProperty, assertive);
            services->Release();
        }
        SetPropW(control, LiveProperty, reinterpret_cast<HANDLE>(1));
    }
    NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, control, OBJID_CLIENT, CHILDID_SELF);
    NotifyWinEvent(EVENT_SYSTEM_ALERT, control, OBJID_CLIENT, CHILDID_SELF);
}

} // namespace quorvane
