// Paths shown in a left-to-right window, whatever scripts their names are in.
// Without help the bidirectional algorithm joins neighbouring right-to-left
// folder names into one run and shows them in reverse order, with an
// extension attached to the wrong name. Each segment between separators that
// holds right-to-left text or a direction control is put in a first-strong
// isolate (U+2068 ... U+2069), so each such name is laid out on its own; the
// left-to-right segments and the separators around them keep the path's
// order.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::window {

// True when `path` (UTF-8) holds right-to-left text or direction controls, so
// that its segments need isolating.
bool may_reorder(std::string_view path);

// `path` (UTF-8) with every segment between `separator`s that may reorder
// isolated; the separators stay outside. A path of left-to-right text only is
// returned unchanged.
std::string isolated_segments(std::string_view path, char separator);

}  // namespace kestrafin::window
