#include "window/tip_lines.h"

#include <algorithm>

#include "platform/text.h"
#include "window/row_limits.h"
#include "window/shown_row.h"

namespace kestrafin::window {

namespace {

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

}  // namespace

std::u16string broken_lines(std::u16string_view shown, char16_t separator,
                            std::u16string_view line_break, const FittingUnits& fitting) {
    std::u16string lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t rest = shown.size() - start;
        const std::size_t fit = std::max<std::size_t>(1, fitting(shown.substr(start)));
        if (rest <= fit) break;
        std::size_t end = start + fit;
        const std::size_t before = shown.rfind(separator, end - 1);
        if (before != std::u16string_view::npos && before > start + fit / 2) end = before + 1;
        if (is_high_surrogate(shown[end - 1])) {
            // A pair stays whole, and a line holds at least one character.
            if (end - 1 > start)
                --end;
            else
                ++end;
        }
        if (end >= shown.size()) break;
        lines.append(shown.substr(start, end - start)).append(line_break);
        start = end;
    }
    return lines.append(shown.substr(start));
}

std::u16string tip_lines(std::u16string_view shown, char16_t separator,
                         std::u16string_view line_break) {
    return broken_lines(shown, separator, line_break, [](std::u16string_view) { return kTipLine; });
}

std::u16string row_tip(std::string_view row, char separator, std::u16string_view line_break) {
    const std::u16string shown =
        platform::utf16_from_utf8(shown_row_text(row, separator, kLongestTip));
    std::u16string tip = tip_lines(shown, static_cast<char16_t>(separator), line_break);
    tip.append(line_break).append(line_break);
    for (const char16_t unit : platform::utf16_from_utf8(row_limits_text(row, separator))) {
        if (unit == u'\n')
            tip.append(line_break);
        else
            tip.push_back(unit);
    }
    return tip;
}

}  // namespace kestrafin::window
