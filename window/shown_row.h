// A row of the result list as the faces draw, measure and tip it. Laying out
// a text takes time and memory in proportion to its length, and a saved list
// may hold a row of a gigabyte, while a window shows a few hundred characters
// of it at a time. So a row longer than kLongestShownRow UTF-16 units shows its
// start and its end (the file's name) with an ellipsis between, in bounded
// time however long it is; the list keeps the whole text, which copying and
// opening the folder use.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrafin::window {

// Rows up to this many UTF-16 units show whole: every path Windows can hold.
inline constexpr std::size_t kLongestShownRow = 32768;
// A row's tool tip shows at most this many units of it; more lines would run
// off the screen.
inline constexpr std::size_t kLongestTip = 4096;
// What stands for the part of a row that is not shown (U+2026, UTF-8).
inline constexpr std::string_view kElision = "\xE2\x80\xA6";

// The parts of a row's text (UTF-8) that show when at most `most` units of it
// may: the whole text in `head` and an empty `tail`, or, for a longer text,
// about `most` / 2 units from each end, cut between characters. A byte that
// starts no valid sequence counts as one unit, as the replacement character
// it shows as. Looks at no more than about 4 * `most` bytes of the text.
struct ShownParts {
    std::string_view head;
    std::string_view tail;
    bool cut = false;
};
ShownParts shown_parts(std::string_view text, std::size_t most = kLongestShownRow);

// The row as one line shows it (one_line_text()): its shown parts joined by
// kElision where it is cut, with the segments between `separator`s that
// hold right-to-left text isolated (isolated_segments()).
std::string shown_row_text(std::string_view text, char separator,
                           std::size_t most = kLongestShownRow);

}  // namespace kestrafin::window
