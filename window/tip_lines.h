// A row's tool tip. A tool tip is one line per line break, and a line wider
// than the screen does not show at all: long paths are broken into lines.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::window {

// Characters (UTF-16 code units) per line of a tool tip.
inline constexpr std::size_t kTipLine = 120;

// `shown` (UTF-16, as the list shows it) in lines of at most kTipLine units,
// each ended by `line_break` but the last: broken after a `separator` where
// one lies in the line's second half, never inside a surrogate pair.
std::u16string tip_lines(std::u16string_view shown, char16_t separator,
                         std::u16string_view line_break);

}  // namespace kestrafin::window
