// The system calls behind raw volumes on Windows, as one seam: tests play
// volumes Wine cannot show (NTFS, ReFS, FAT32, shares, subst drives, a
// volume that refuses a user who is no administrator, a device that takes
// only whole sectors). Included only by the Windows backend and by tests.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/raw_volume.h"
#include "platform/windows/system.h"

namespace kestrafin::platform::windows {

struct VolumeCalls {
    BOOL(WINAPI* get_volume_path_name)(LPCWSTR path, LPWSTR volume_path, DWORD length);
    BOOL(WINAPI* get_volume_name_for_mount_point)(LPCWSTR mount_point, LPWSTR name, DWORD length);
    UINT(WINAPI* get_drive_type)(LPCWSTR root);
    DWORD(WINAPI* query_dos_device)(LPCWSTR device, LPWSTR target, DWORD length);
    BOOL(WINAPI* get_volume_information)
    (LPCWSTR root, LPWSTR name, DWORD name_length, LPDWORD serial, LPDWORD component_length,
     LPDWORD flags, LPWSTR file_system, DWORD file_system_length);
    HANDLE(WINAPI* create_file)
    (LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
     DWORD flags, HANDLE template_file);
    BOOL(WINAPI* device_io_control)
    (HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
     LPDWORD returned, LPOVERLAPPED overlapped);
    BOOL(WINAPI* get_file_size)(HANDLE file, PLARGE_INTEGER size);
    BOOL(WINAPI* read_file)
    (HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
};

// The system's own.
VolumeCalls system_volume_calls();

// RawVolume::open and ntfs_volume_of through `calls`. A source named as a
// device ("\\.\C:", "\\?\Volume{...}") is read in whole sectors into an
// aligned buffer, its length from the device; any other is read as a file.
std::unique_ptr<RawVolume> open_raw_volume(std::string_view source, std::error_code& error,
                                           const VolumeCalls& calls);
std::optional<NtfsVolumeOfPath> ntfs_volume_of(std::string_view root, std::string& why_not,
                                               const VolumeCalls& calls);

}  // namespace kestrafin::platform::windows
