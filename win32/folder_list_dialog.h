// A modal dialog that lists the folders a search could not read, in a
// read-only box whose text can be selected and copied, with "Copy all",
// "Export as CSV..." and "Close". Built in memory, so it needs no resource.
#pragma once

#include <windows.h>

#include <string>

#include "window/window_face.h"

namespace kestrafin::win32 {

inline constexpr int kFolderListBoxId = 110;

// Shows the dialog owned by `owner` and returns the button that ended it
// (close for Enter, Escape and the title bar's close button too); the list's
// box has the ID kFolderListBoxId. `text` ends its
// lines with CR LF. Raises std::system_error when it cannot be shown.
window::FolderListAction show_folder_list_dialog(HWND owner, const std::wstring& title,
                                                 const std::wstring& text);

}  // namespace kestrafin::win32
