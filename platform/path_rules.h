// The host's path conventions: its separator and the root a first run starts
// from; and the host's error number for data found damaged, where no call of
// the host failed (a volume's table read past the file system).
#pragma once

#include <string_view>

namespace kestrafin::platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kDefaultRoot = "c:\\";
inline constexpr int kDamagedDataError = 1392;  // ERROR_FILE_CORRUPT
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kDefaultRoot = "/";
inline constexpr int kDamagedDataError = 5;  // EIO
#endif

}  // namespace kestrafin::platform
