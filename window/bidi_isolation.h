// Paths shown in a left-to-right window, whatever scripts their names are in.
// Without help the bidirectional algorithm joins neighbouring right-to-left
// folder names into one run and shows them in reverse order, with an
// extension attached to the wrong name. Each segment between separators is
// put in a first-strong isolate (U+2068 ... U+2069), so each name is laid out
// on its own and the folders stay in path order.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::window {

// True when `path` (UTF-8) holds right-to-left text or direction controls, so
// that its segments need isolating.
bool may_reorder(std::string_view path);

// `path` (UTF-8) with every non-empty segment between `separator`s isolated;
// the separators stay outside. A path of left-to-right text only is returned
// unchanged.
std::string isolated_segments(std::string_view path, char separator);

}  // namespace kestrafin::window
