// The text that copying paths puts on the clipboard: the paths as they are,
// one a line, so that a pasted path names the file. Names on POSIX are bytes;
// the clipboard holds Unicode text, so bytes that are not UTF-8 cannot go
// there as they are.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kestrafin::window {

struct CopiedText {
    std::string text;               // UTF-8
    std::size_t altered_paths = 0;  // paths in which bytes were replaced
};

// How the paths are joined: one a line (lines separated by "\n", none after
// the last), the same with each path in double quotes (a quote in it
// doubled) so that a name's line break stays inside its quotes, or each
// path ended by a NUL, as `find -print0` gives them.
enum class PathFormat { lines, quoted, nul_ended };

// Joins the paths that `each_path` hands to its callback, in order. A byte
// that starts no valid UTF-8 sequence, and an encoded surrogate, become
// U+FFFD; a line break or any other character in a name stays as it is.
CopiedText copied_paths(
    const std::function<void(const std::function<void(std::string_view)>&)>& each_path,
    PathFormat format = PathFormat::lines);

// The note that tells the user that `altered` of the copied paths are not
// exactly the names on disk; empty when none is.
std::string altered_paths_note(std::size_t altered);

}  // namespace kestrafin::window
