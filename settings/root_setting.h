// Where the root folder setting lives: key "FULLPATH" of section "PATH" in
// "kestrafin.ini" in the program folder.
#pragma once

#include <string_view>

namespace kestrafin::settings {

inline constexpr std::string_view kSettingsFileName = "kestrafin.ini";
inline constexpr std::string_view kRootSection = "PATH";
inline constexpr std::string_view kRootKey = "FULLPATH";

}  // namespace kestrafin::settings
