// The call by which a complete temporary file takes the name of the file it
// replaces, in one step. It passes through a table that a test may replace,
// so that tests can play file systems that refuse the one-step form with
// POSIX semantics, which Wine always grants: FAT32, shares of older servers,
// Windows before 10 version 1607. Included by files_windows.cpp and by tests.
#pragma once

#include "platform/windows/system.h"

namespace kestrafin::platform::windows {

class Renaming {
  public:
    virtual ~Renaming() = default;
    // SetFileInformationByHandle with FileRenameInfo or FileRenameInfoEx.
    virtual BOOL rename_by_handle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS information_class,
                                  FILE_RENAME_INFO* information, DWORD bytes);
};

// The table in use: the system's, unless a test replaced it.
Renaming& renaming();

// Puts `replacement` in the system's place; null puts the system's back.
void replace_renaming(Renaming* replacement);

}  // namespace kestrafin::platform::windows
