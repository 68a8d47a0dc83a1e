// Names made safe for a terminal, quoted the way GNU ls quotes for one: a
// name with control characters, invalid UTF-8 or bidirectional controls can
// neither move the cursor, retitle the window nor hide part of itself.
// Printable runs stand in single quotes, the rest in $'...' with C escapes
// and octal bytes, so the quoted text is also a shell word for the same bytes
// in any locale.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrafin::scan {

// `name` always quoted, as diagnostics show names: /a b -> '/a b'.
std::string quoted_for_terminal(std::string_view name);

// `name` quoted only where it needs it (a shell special character or an
// unprintable one), as entries are shown on a terminal.
std::string escaped_for_terminal(std::string_view name);

// `text` with every unprintable character replaced by its escape (\n,
// \033, \342\200\256...), for messages that quote their names already.
std::string printable_text(std::string_view text);

// The columns of the terminal open as `descriptor`; 80 when it tells none.
std::size_t terminal_width(int descriptor);

}  // namespace kestrafin::scan
