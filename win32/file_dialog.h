// The system's Save dialog, for a file the user picks anywhere.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace kestrafin::win32 {

// Shows the Save dialog owned by `owner` for CSV files, offering
// `suggested_name` in the folder the system offers, and asking before a
// file is replaced. The path chosen; nothing on Cancel or close. Raises
// std::runtime_error when the dialog cannot be shown.
std::optional<std::wstring> ask_for_csv_file(HWND owner, const std::wstring& title,
                                             const std::wstring& suggested_name);

}  // namespace kestrafin::win32
