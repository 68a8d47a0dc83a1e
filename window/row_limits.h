// What a row's tip tells besides its path: its length and its folder's in
// UTF-16 code units, as Windows counts them, and which length limits of the
// destinations it breaks. The limits are the scanner's, read from its rules
// (scan/rules/), with the profile names --check takes, so the window and the
// scanner never disagree. The window knows no target prefix: SharePoint's
// limit counts the path as it is.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::window {

// "271 units, its folder 212", then one line per rule broken: "Path over 259
// units: windows", "Folder over 247 units: windows", "A name over 255 units:
// windows, onedrive"; lines separated by "\n". `separator` ends folders.
std::string row_limits_text(std::string_view row, char separator);

}  // namespace kestrafin::window
