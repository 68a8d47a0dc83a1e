// Names and descriptions that assistive technology reads for the controls
// whose own text does not say what they are: a box, a list, a picture, a
// link. They are set through the system's annotation service, which screen
// readers ask before the control's standard accessible object; where the
// service is missing, the controls keep the names the system derives.
//
// Labels whose text is the news (how many records, how a search ended) are
// named by that text, read out by screen readers when announced (a polite
// live region); a box that shows a value but takes no typing reads as
// read-only.
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

    // Makes `control` a live region whose changes screen readers announce
    // without the focus moving there.
    bool make_live(HWND control);
    // The text `control` now shows becomes its name (`empty_name` while it
    // shows none), and the name's change is raised: even where annotations
    // are refused, as the control's own text changed.
    bool show_text(HWND control, std::wstring_view text, std::wstring_view empty_name);
    // Has screen readers read out the live region `control` as it now is.
    void announce(HWND control);
    // Tells that `control` (a disabled edit box) shows a value but takes no typing.
    bool make_read_only(HWND control);

  private:
    bool set(HWND control, bool is_name, std::wstring_view text);
    // A number, or a truth where `truth`.
    bool set_number(HWND control, const GUID& property, long number, bool truth = false);
    void remember(HWND control);

    IAccPropServices* services_ = nullptr;
    bool com_started_ = false;
    std::vector<HWND> annotated_;
};

}  // namespace kestrafin::win32
