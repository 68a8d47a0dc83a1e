// The calls by which the folder reader asks the file system: opening a name
// below an open folder, the information classes of a handle, the listing
// classes and the resolved path. They pass through one table that a test may
// replace, so that tests can play file systems the host at hand does not
// offer: one that refuses a class (FAT32 the tag class, a NAS the ID
// classes), one that reports folders without their directory bit (SMB1), one
// that gives every file the ID 0 and no resolved path, a folder the system
// protects. Each call behaves as the system call it is named after, failures
// and last error included. Included by folders_windows.cpp and by tests.
#pragma once

#include "platform/windows/system.h"

#include <winternl.h>

namespace kestrafin::platform::windows {

class FileInformation {
  public:
    virtual ~FileInformation() = default;

    // NtCreateFile without allocation size, attributes or extended attributes.
    virtual NTSTATUS create_file(HANDLE* handle, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                                 IO_STATUS_BLOCK* status, ULONG share, ULONG disposition,
                                 ULONG options);
    // GetFileInformationByHandleEx.
    virtual BOOL information_by_handle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS information_class,
                                       void* buffer, DWORD bytes);
    // GetFileInformationByHandle.
    virtual BOOL identity_by_handle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* information);
    // GetFinalPathNameByHandleW.
    virtual DWORD final_path(HANDLE handle, wchar_t* path, DWORD units, DWORD flags);
    // NtQueryDirectoryFile on a handle opened for synchronous use: no event,
    // no completion routine, no name pattern, several entries a call.
    virtual NTSTATUS query_directory(HANDLE handle, IO_STATUS_BLOCK* status, void* buffer,
                                     ULONG bytes, FILE_INFORMATION_CLASS information_class,
                                     bool restart_scan);
};

// The table in use: the system's, unless a test replaced it.
FileInformation& file_information();

// Puts `replacement` in the system's place; null puts the system's back. Only
// while no folder is open. Also forgets which listing class each volume
// answered, so a replacement's volumes are learnt anew.
void replace_file_information(FileInformation* replacement);

}  // namespace kestrafin::platform::windows
