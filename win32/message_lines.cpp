#include "win32/message_lines.h"

#include <algorithm>

#include "win32/gdi_owner.h"
#include "window/tip_lines.h"

namespace kestrafin::win32 {

namespace {

bool is_blank(wchar_t unit) {
    return unit == L' ' || unit == L'\n' || unit == L'\r' || unit == L'\t';
}

}  // namespace

std::wstring message_lines(HWND owner, std::wstring_view text) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) ||
        !::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor))
        return std::wstring(text);
    const int widest = std::max<int>(1, (monitor.rcWork.right - monitor.rcWork.left) / 2);
    const GdiOwner<HFONT> font(::CreateFontIndirectW(&metrics.lfMessageFont));
    if (font.get() == nullptr) return std::wstring(text);
    const MeasuringContext context(nullptr, font.get());
    const window::FittingUnits fitting = [&](std::u16string_view rest) -> std::size_t {
        int fit = 0;
        SIZE size{};
        if (!::GetTextExtentExPointW(context.get(), reinterpret_cast<const wchar_t*>(rest.data()),
                                     static_cast<int>(rest.size()), widest, &fit, nullptr, &size))
            return rest.size();
        return static_cast<std::size_t>(std::max(fit, 0));
    };

    std::wstring shown;
    shown.reserve(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && !is_blank(text[end])) ++end;
        const std::u16string word(text.begin() + static_cast<std::ptrdiff_t>(start),
                                  text.begin() + static_cast<std::ptrdiff_t>(end));
        const std::u16string lines = window::broken_lines(word, u'\\', u"\n", fitting);
        shown.append(lines.begin(), lines.end());
        while (end < text.size() && is_blank(text[end])) shown += text[end++];
        start = end;
    }
    return shown;
}

}  // namespace kestrafin::win32
