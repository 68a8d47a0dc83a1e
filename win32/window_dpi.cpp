#include "win32/window_dpi.h"

#include <algorithm>

namespace kestrafin::win32 {

namespace {

using DpiForWindow = UINT(WINAPI*)(HWND);
using FrameForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

// Looked up in user32, which the window imports and so is loaded already:
// importing them would keep the program from starting before Windows 10 1607.
template <typename Call>
Call user32_call(const char* name) {
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return nullptr;
    return reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

unsigned system_dpi() {
    const HDC screen = ::GetDC(nullptr);
    if (screen == nullptr) return 96;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<unsigned>(dpi) : 96;
}

}  // namespace

unsigned window_dpi(HWND window) {
    static const auto dpi_for_window = user32_call<DpiForWindow>("GetDpiForWindow");
    const unsigned dpi = dpi_for_window != nullptr ? dpi_for_window(window) : system_dpi();
    return std::max(96u, dpi);
}

void add_window_frame(RECT& area, DWORD style, DWORD extended_style, unsigned dpi) {
    static const auto frame_for_dpi = user32_call<FrameForDpi>("AdjustWindowRectExForDpi");
    if (frame_for_dpi != nullptr && frame_for_dpi(&area, style, FALSE, extended_style, dpi)) return;
    ::AdjustWindowRectEx(&area, style, FALSE, extended_style);
}

}  // namespace kestrafin::win32
