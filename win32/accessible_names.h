// Names and descriptions that assistive technology reads for the controls
// whose own text does not say what they are: a box, a list, a picture, a
// link. They are set through the system's annotation service, which screen
// readers ask before the control's standard accessible object; where the
// service is missing, the controls keep the names the system derives.
//
// Threading: made, used and destroyed on the window's thread.
#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

struct IAccPropServices;

namespace kestrafin::win32 {

class AccessibleNames {
  public:
    AccessibleNames();
    // Clears every annotation made, while the controls still exist.
    ~AccessibleNames();
    AccessibleNames(const AccessibleNames&) = delete;
    AccessibleNames& operator=(const AccessibleNames&) = delete;

    // Sets what the control `control` is called and what it is for; returns
    // false where the annotation service refused it.
    bool name(HWND control, std::wstring_view name, std::wstring_view description);
    bool describe(HWND control, std::wstring_view description);

  private:
    bool set(HWND control, bool is_name, std::wstring_view text);

    IAccPropServices* services_ = nullptr;
    bool com_started_ = false;
    std::vector<HWND> annotated_;
};

}  // namespace kestrafin::win32
