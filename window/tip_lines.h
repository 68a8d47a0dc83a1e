// Long paths broken into lines, for texts that break lines only where they
// are told to or between words: a row's tool tip, whose lines wider than the
// screen do not show at all, and a message box, which cuts a word wider than
// itself.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kestrafin::window {

// Characters (UTF-16 code units) per line of a tool tip.
inline constexpr std::size_t kTipLine = 120;

// How many units of `rest` fit on one line (at least one; a line that cannot
// hold one character still takes it).
using FittingUnits = std::function<std::size_t(std::u16string_view rest)>;

// `shown` (UTF-16) in lines that each hold what fits, each ended by
// `line_break` but the last: broken after a `separator` where one lies in the
// line's second half, never inside a surrogate pair.
std::u16string broken_lines(std::u16string_view shown, char16_t separator,
                            std::u16string_view line_break, const FittingUnits& fitting);

// `shown` (UTF-16, as the list shows it) in lines of at most kTipLine units.
std::u16string tip_lines(std::u16string_view shown, char16_t separator,
                         std::u16string_view line_break);

// The tool tip of a result row of text `row` (UTF-8): at most kLongestTip
// units of it as the list shows them (shown_row_text()), in tip_lines(),
// then below a blank line its lengths and the limits it breaks
// (row_limits_text()).
std::u16string row_tip(std::string_view row, char separator, std::u16string_view line_break);

}  // namespace kestrafin::window
