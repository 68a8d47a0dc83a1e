#include "window/tip_lines.h"

namespace kestrafin::window {

namespace {

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

std::u16string tip_lines(std::u16string_view shown, char16_t separator,
                         std::u16string_view line_break) {
    std::u16string tip;
    std::size_t start = 0;
    while (shown.size() - start > kTipLine) {
        std::size_t end = start + kTipLine;
        const std::size_t before = shown.rfind(separator, end - 1);
        if (before != std::u16string_view::npos && before > start + kTipLine / 2) end = before + 1;
        if (is_high_surrogate(shown[end - 1])) --end;
        tip.append(shown.substr(start, end - start)).append(line_break);
        start = end;
    }
    return tip.append(shown.substr(start));
}

}  // namespace kestrafin::window
