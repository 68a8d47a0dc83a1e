// Texts from outside, paths above all, shown on one line: a row of the list,
// the status line. A control character or a line or paragraph separator
// would break the line, move what follows or show as nothing, and a direction
// mark would reorder the text around it; each of these shows as its code
// point, "<U+000A>", so that every character of the path stays visible in its
// place and the line stays one line. The stored text is not changed.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::window {

// `utf8` as one line shows it. Bytes that are not UTF-8 are kept: the face
// shows each as the replacement character.
std::string one_line_text(std::string_view utf8);

}  // namespace kestrafin::window
