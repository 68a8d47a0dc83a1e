// The host's path conventions: its separator and the root a first run starts from.
#pragma once

#include <string_view>

namespace kestrafin::platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kDefaultRoot = "c:\\";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kDefaultRoot = "/";
#endif

}  // namespace kestrafin::platform
