// Texts from outside, paths above all, shown on one line: a row of the list,
// the status line, the root box. A character that would break the line, move
// what follows, reorder the text around it or show as nothing between its
// neighbours shows as its code point, "<U+000A>", so that every character of
// the path stays visible in its place and the line stays one line. Characters
// that real names need to be drawn right (joiners, variation selectors) show
// as themselves, a variation selector only one at a time. The stored text is
// not changed. Every face uses this one rule, so the list, the status line and
// the root box show a path alike.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::window {

// What `code_point` shows as on one line: "<U+XXXX>" (at least four hex
// digits, upper case) for a character shown by its code point, empty for a
// character that shows as itself.
std::string stand_in_for(char32_t code_point);

// Whether `code_point` selects a variant of the character before it. One
// shows as itself; each after the first of a run shows by its code point,
// since no name needs two in a row and a run, one selector for each byte, can
// carry a whole hidden text after any character.
bool is_variation_selector(char32_t code_point);

// `utf8` as one line shows it. Bytes that are not UTF-8 are kept: the face
// shows each as the replacement character.
std::string one_line_text(std::string_view utf8);

}  // namespace kestrafin::window
