#include "win32/accessible_names.h"

#include <initguid.h>

#include <objbase.h>
#include <oleacc.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace kestrafin::win32 {

namespace {

// UI Automation's property identifiers (UIAutomationCoreApi.h), which
// annotations take in place of Active Accessibility's: the headers at hand
// do not define them.
constexpr GUID kLiveSetting = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr GUID kValueIsReadOnly = {
    0xeb090f30, 0xe24c, 0x4799, {0xa7, 0x05, 0x0d, 0x24, 0x7b, 0xc0, 0x37, 0xf8}};
constexpr LONG kPolite = 1;  // LiveSetting's Polite

}  // namespace

AccessibleNames::AccessibleNames() {
    const HRESULT started = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // S_FALSE: already started on this thread, which still counts one more.
    com_started_ = SUCCEEDED(started);
    if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IAccPropServices, reinterpret_cast<void**>(&services_))))
        services_ = nullptr;
}

AccessibleNames::~AccessibleNames() {
    if (services_ != nullptr) {
        MSAAPROPID properties[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION, PROPID_ACC_STATE,
                                   kLiveSetting, kValueIsReadOnly};
        for (const HWND control : annotated_)
            if (::IsWindow(control))
                services_->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF, properties,
                                          static_cast<int>(std::size(properties)));
        services_->Release();
    }
    if (com_started_) ::CoUninitialize();
}

bool AccessibleNames::name(HWND control, std::wstring_view name, std::wstring_view description) {
    const bool named = set(control, true, name);
    return set(control, false, description) && named;
}

bool AccessibleNames::describe(HWND control, std::wstring_view description) {
    return set(control, false, description);
}

bool AccessibleNames::make_live(HWND control) {
    return set_number(control, kLiveSetting, kPolite);
}

bool AccessibleNames::show_text(HWND control, std::wstring_view text,
                                std::wstring_view empty_name) {
    if (control == nullptr) return false;
    const bool named = set(control, true, text.empty() ? empty_name : text);
    // After the annotation, so that whoever asks on the event reads the new name.
    ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
    return named;
}

void AccessibleNames::announce(HWND control) {
    if (control != nullptr)
        ::NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, control, OBJID_CLIENT, CHILDID_SELF);
}

bool AccessibleNames::make_read_only(HWND control) {
    const bool stated =
        set_number(control, PROPID_ACC_STATE, STATE_SYSTEM_READONLY | STATE_SYSTEM_UNAVAILABLE);
    return set_number(control, kValueIsReadOnly, 1, true) && stated;
}

bool AccessibleNames::set(HWND control, bool is_name, std::wstring_view text) {
    if (services_ == nullptr || control == nullptr) return false;
    const std::wstring terminated(text);
    const HRESULT result = services_->SetHwndPropStr(
        control, OBJID_CLIENT, CHILDID_SELF, is_name ? PROPID_ACC_NAME : PROPID_ACC_DESCRIPTION,
        terminated.c_str());
    if (FAILED(result)) return false;
    remember(control);
    return true;
}

bool AccessibleNames::set_number(HWND control, const GUID& property, long number, bool truth) {
    if (services_ == nullptr || control == nullptr) return false;
    VARIANT value{};
    value.vt = truth ? VT_BOOL : VT_I4;
    if (truth)
        value.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    else
        value.lVal = number;
    if (FAILED(services_->SetHwndProp(control, OBJID_CLIENT, CHILDID_SELF, property, value)))
        return false;
    remember(control);
    return true;
}

void AccessibleNames::remember(HWND control) {
    if (std::find(annotated_.begin(), annotated_.end(), control) == annotated_.end())
        annotated_.push_back(control);
}

}  // namespace kestrafin::win32
