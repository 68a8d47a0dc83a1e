// A modal prompt for one line of text: a caption, a line of prompt text, a
// text box, OK and Cancel. Built in memory, so it needs no resource.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kestrafin::win32 {

// Shows the prompt owned by `owner`, its box holding `initial` all selected,
// and returns the text on OK
// (possibly empty), or nothing on Cancel, Escape or close. The text box takes
// text of any length. Raises std::system_error when the prompt cannot be shown.
std::optional<std::wstring> ask_for_text(HWND owner, const std::wstring& title,
                                         const std::wstring& prompt, const std::wstring& initial);

// The "Change" prompt: as above with an empty box whose list offers the
// `recent` roots, and a "Browse..." button that opens the folder picker at
// the box's path and puts the folder chosen into the box.
std::optional<std::wstring> ask_for_root(HWND owner, const std::wstring& title,
                                         const std::wstring& prompt,
                                         const std::vector<std::wstring>& recent);

}  // namespace kestrafin::win32
