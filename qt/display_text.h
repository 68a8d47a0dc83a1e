// How the list shows an entry's text. Control characters and line breaks
// would cut a row after its first line, and direction marks would reorder
// it; each of these shows as a visible stand-in, so that a row shows every
// character of the path in its place. The stored text is not changed.
#pragma once

#include <QString>
#include <string_view>

namespace kestrafin::qt {

// The stand-in shown for `code_point`, "<U+XXXX>" for a control character, a
// line or paragraph separator or a direction mark; empty for a character
// that shows as itself.
QString stand_in_for(char32_t code_point);

// `utf8` as the list shows it (bytes that are not UTF-8 as the replacement
// character).
QString display_text(std::string_view utf8);

}  // namespace kestrafin::qt
