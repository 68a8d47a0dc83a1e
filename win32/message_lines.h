// A message box's text laid out so that it shows whole. MessageBoxW breaks
// its lines at blanks only and cuts a word wider than itself: a root of
// thousands of characters ran off both sides of the screen and hid the
// reason after it. Words wider than half the work area of the owner's
// monitor, measured in the message font, are broken into lines that fit,
// after a path separator where one lies in the line's second half.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kestrafin::win32 {

// `text` with line breaks in its over-wide words; returned as it is when it
// has none or when the font or the monitor cannot be learnt.
std::wstring message_lines(HWND owner, std::wstring_view text);

}  // namespace kestrafin::win32
