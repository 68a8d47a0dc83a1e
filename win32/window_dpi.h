// The window's DPI and the frame it needs at that DPI on every Windows the
// window runs on: Windows 10 1607 and later answer per monitor; Windows 8.1
// and Server 2012 R2 lack those calls, and there the system's DPI serves
// (WM_DPICHANGED still tells of a move to a screen of another DPI).
#pragma once

#include <windows.h>

namespace kestrafin::win32 {

// The DPI that `window` is drawn at, never below 96.
unsigned window_dpi(HWND window);

// Grows `area`, a client area, by the frame and caption of a window of
// `style` and `extended_style` without a menu, drawn at `dpi`.
void add_window_frame(RECT& area, DWORD style, DWORD extended_style, unsigned dpi);

}  // namespace kestrafin::win32
