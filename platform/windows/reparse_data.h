// Where a Windows link leads, told from its reparse data alone, before its
// target is opened: opening a target on another machine signs in there with
// the scanning account's credentials. The data is taken as plain bytes
// (REPARSE_DATA_BUFFER, little-endian), so every host tests the parsing.
// The reading of the data, on Windows alone, can be replaced by a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestrafin::platform::windows {

inline constexpr std::uint32_t kReparseTagSymlink = 0xA000000C;     // IO_REPARSE_TAG_SYMLINK
inline constexpr std::uint32_t kReparseTagMountPoint = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT

// The machine a link's reparse data leads to: the host of a symbolic link
// whose substitute name is a UNC path ("\??\UNC\host\share", "\\host\share",
// "\Device\Mup\host\share"), upper-cased in ASCII; empty for a link that
// stays on this machine (a drive or volume path) or on its own folder's (a
// relative one) and for a junction, which cannot lead to another machine.
// Nothing when the data is no link's or is damaged.
std::optional<std::u16string> machine_of_link(const std::uint8_t* data, std::size_t size);

// The host of a UNC path (\\host\share, \\?\UNC\host\share), upper-cased in
// ASCII; empty for any other path.
std::u16string machine_of_path(std::u16string_view path);

// The same for a wide path on Windows, where wchar_t is UTF-16.
#ifdef _WIN32
inline std::u16string machine_of_path(std::wstring_view path) {
    return machine_of_path(
        std::u16string_view(reinterpret_cast<const char16_t*>(path.data()), path.size()));
}

// Reads the reparse data of the link `name` in the open folder `folder` (a
// HANDLE) into `data`, never opening its target.
using ReparseDataReader = std::error_code (*)(void* folder, std::wstring_view name,
                                              std::vector<std::uint8_t>& data);

// The system's reader: the link opened with FILE_OPEN_REPARSE_POINT and
// asked FSCTL_GET_REPARSE_POINT.
std::error_code read_reparse_data(void* folder, std::wstring_view name,
                                  std::vector<std::uint8_t>& data);

// For tests, where Wine cannot make a link to another machine: the reader
// the walk uses from now on; null puts the system's back.
void replace_reparse_data_reader(ReparseDataReader reader);
ReparseDataReader reparse_data_reader();
#endif

}  // namespace kestrafin::platform::windows
