// The "\\?\" prefix that every path handed to the Windows API carries: it
// lifts the 260-character limit and stops the system from rewriting the
// path. Pure text functions, so that every host can test them.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::platform {

// `full_path` with the prefix. `full_path` is absolute, as GetFullPathNameW
// makes it (backslashes, no "." or ".." parts). "C:\x" becomes "\\?\C:\x",
// the share "\\server\share\x" becomes "\\?\UNC\server\share\x", and a path
// that already carries "\\?\" or the device prefix "\\.\" is kept unchanged.
std::u16string with_long_path_prefix(std::u16string_view full_path);

// The form a user reads: "\\?\C:\x" becomes "C:\x" and "\\?\UNC\server\x"
// becomes "\\server\x"; any other path is kept unchanged.
std::u16string without_long_path_prefix(std::u16string_view path);

// True when `path` already carries "\\?\" or "\\.\" and must not be rewritten.
bool has_system_prefix(std::u16string_view path);

}  // namespace kestrafin::platform
