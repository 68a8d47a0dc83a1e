// The two ways the record reader reads a line: the plain reader for lines
// as the writer writes them, and the full JSON parser for every other. They
// are laid bare here for the fuzz target that holds them to one answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrafin::scan::record::detail {

// What the full parser makes of `line`: the keys and values it hands on, or
// "refused" and why.
std::string full_parse(std::string_view line);

// The same from the plain reader; nothing where it leaves the line to the
// full parser.
std::optional<std::string> plain_parse(std::string_view line);

}  // namespace kestrafin::scan::record::detail
