// A modal prompt for one line of text: a caption, a line of prompt text, a
// text box, OK and Cancel. Built in memory, so it needs no resource.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace kestrafin::win32 {

// Shows the prompt owned by `owner`, its box holding `initial` all selected,
// and returns the text on OK
// (possibly empty), or nothing on Cancel, Escape or close. The text box takes
// text of any length. Raises std::system_error when the prompt cannot be shown.
std::optional<std::wstring> ask_for_text(HWND owner, const std::wstring& title,
                                         const std::wstring& prompt, const std::wstring& initial);

}  // namespace kestrafin::win32
