// Texts of the records as a page shows them. A record hands on exact bytes:
// each byte that is no valid UTF-8 is shown as U+FFFD, as the record's text
// form has it, and control characters and the characters that turn the
// direction of text are shown by their code point (⟨U+202E⟩), so that no
// name can break a line, hide its end or read backwards. What is left is
// escaped for HTML and SVG alike: no name becomes markup.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::scan::report {

// Appends `bytes` to `out` as escaped, shown text.
void append_text(std::string& out, std::string_view bytes);

// `bytes` as escaped, shown text.
std::string markup_text(std::string_view bytes);

// The number of characters `bytes` shows as: what the charts lay out by.
std::size_t shown_length(std::string_view bytes);

}  // namespace kestrafin::scan::report
