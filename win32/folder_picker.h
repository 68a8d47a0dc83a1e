// The system's folder picker, for the root the "Change" prompt takes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace kestrafin::win32 {

// Shows the picker owned by `owner`, opened at `start` where that names a
// folder. The folder chosen, as a file-system path (a share's UNC path
// included); nothing on Cancel. Raises std::system_error when it cannot be
// shown.
std::optional<std::wstring> pick_folder(HWND owner, const std::wstring& start);

}  // namespace kestrafin::win32
