#include "win32/accessible_names.h"

#include <initguid.h>

#include <objbase.h>
#include <oleacc.h>

#include <algorithm>
#include <string>

namespace kestrafin::win32 {

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
        MSAAPROPID properties[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
        for (const HWND control : annotated_)
            if (::IsWindow(control))
                services_->ClearHwndProps(control, OBJID_CLIENT, CHILDID_SELF, properties, 2);
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

bool AccessibleNames::set(HWND control, bool is_name, std::wstring_view text) {
    if (services_ == nullptr || control == nullptr) return false;
    const std::wstring terminated(text);
    const HRESULT result = services_->SetHwndPropStr(
        control, OBJID_CLIENT, CHILDID_SELF, is_name ? PROPID_ACC_NAME : PROPID_ACC_DESCRIPTION,
        terminated.c_str());
    if (FAILED(result)) return false;
    if (std::find(annotated_.begin(), annotated_.end(), control) == annotated_.end())
        annotated_.push_back(control);
    return true;
}

}  // namespace kestrafin::win32
