#include "platform/windows/file_information.h"

#include <atomic>

// Missing from the headers of the cross compiler; exported by ntdll.dll.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE routine,
                                               PVOID context, PIO_STATUS_BLOCK status, PVOID buffer,
                                               ULONG bytes,
                                               FILE_INFORMATION_CLASS information_class,
                                               BOOLEAN single_entry, PUNICODE_STRING pattern,
                                               BOOLEAN restart_scan);

namespace kestrafin::platform::windows {

void forget_listing_classes();  // folders_windows.cpp

namespace {

// Never destroyed, as readers left waiting for the host may call it as the
// program ends.
FileInformation& system_calls = *new FileInformation;
std::atomic<FileInformation*> in_use{&system_calls};

}  // namespace

NTSTATUS FileInformation::create_file(HANDLE* handle, ACCESS_MASK access,
                                      OBJECT_ATTRIBUTES* attributes, IO_STATUS_BLOCK* status,
                                      ULONG share, ULONG disposition, ULONG options) {
    return ::NtCreateFile(handle, access, attributes, status, nullptr, 0, share, disposition,
                          options, nullptr, 0);
}

BOOL FileInformation::information_by_handle(HANDLE handle,
                                            FILE_INFO_BY_HANDLE_CLASS information_class,
                                            void* buffer, DWORD bytes) {
    return ::GetFileInformationByHandleEx(handle, information_class, buffer, bytes);
}

BOOL FileInformation::identity_by_handle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* information) {
    return ::GetFileInformationByHandle(handle, information);
}

DWORD FileInformation::final_path(HANDLE handle, wchar_t* path, DWORD units, DWORD flags) {
    return ::GetFinalPathNameByHandleW(handle, path, units, flags);
}

NTSTATUS FileInformation::query_directory(HANDLE handle, IO_STATUS_BLOCK* status, void* buffer,
                                          ULONG bytes, FILE_INFORMATION_CLASS information_class,
                                          bool restart_scan) {
    return ::NtQueryDirectoryFile(handle, nullptr, nullptr, nullptr, status, buffer, bytes,
                                  information_class, FALSE, nullptr, restart_scan ? TRUE : FALSE);
}

FileInformation& file_information() {
    return *in_use.load(std::memory_order_acquire);
}

void replace_file_information(FileInformation* replacement) {
    in_use.store(replacement != nullptr ? replacement : &system_calls, std::memory_order_release);
    forget_listing_classes();
}

}  // namespace kestrafin::platform::windows
