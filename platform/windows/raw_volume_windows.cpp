// Raw volumes on Windows. A volume handle ("\\.\C:") reads past the file
// system and is opened by administrators only; the file systems open it
// without caching, so that every read must start and end on a sector and
// land in a buffer aligned to one: reads here are made whole sectors
// through a buffer of their own. Errors of reading come back as errno
// numbers, as the volume reader takes them (ERROR_ACCESS_DENIED is 5, as
// EIO is).
#include "platform/windows/raw_volume_windows.h"

#include <winioctl.h>

#include <malloc.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/windows/privileges.h"

namespace kestrafin::platform::windows {

namespace {

constexpr std::size_t kPiece = 1 << 20;  // the most one read asks for

int errno_of(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        default:
            return EIO;
    }
}

struct AlignedFree {
    void operator()(std::byte* block) const noexcept { _aligned_free(block); }
};

class VolumeHandle final : public RawVolume {
  public:
    VolumeHandle(Handle handle, std::uint64_t size, std::size_t sector, const VolumeCalls& calls)
        : handle_(std::move(handle)), size_(size), sector_(sector), calls_(calls) {}

    std::uint64_t size() const override { return size_; }

    int read(std::uint64_t offset, std::span<std::byte> out) override {
        if (offset > size_ || out.size() > size_ - offset) return EIO;
        if (sector_ == 1) return read_at(offset, out);
        if (!buffer_) {
            buffer_.reset(static_cast<std::byte*>(_aligned_malloc(kPiece, sector_)));
            if (!buffer_) return ENOMEM;
        }
        std::size_t done = 0;
        while (done < out.size()) {
            const std::uint64_t at = offset + done;
            const std::uint64_t start = at / sector_ * sector_;
            const std::size_t skip = static_cast<std::size_t>(at - start);
            const std::size_t wanted = std::min(out.size() - done, kPiece - skip);
            const std::size_t whole = (skip + wanted + sector_ - 1) / sector_ * sector_;
            if (const int failed = read_at(start, {buffer_.get(), whole}); failed != 0)
                return failed;
            std::memcpy(out.data() + done, buffer_.get() + skip, wanted);
            done += wanted;
        }
        return 0;
    }

  private:
    int read_at(std::uint64_t offset, std::span<std::byte> out) {
        std::size_t done = 0;
        while (done < out.size()) {
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(offset + done);
            where.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
            const DWORD asked =
                static_cast<DWORD>(std::min<std::size_t>(out.size() - done, kPiece));
            DWORD got = 0;
            if (!calls_.read_file(handle_.get(), out.data() + done, asked, &got, &where))
                return errno_of(::GetLastError());
            if (got == 0) return EIO;
            done += got;
        }
        return 0;
    }

    Handle handle_;
    std::uint64_t size_;
    std::size_t sector_;
    VolumeCalls calls_;
    std::unique_ptr<std::byte, AlignedFree> buffer_;
};

bool names_device(std::wstring_view name) {
    return name.starts_with(L"\\\\.\\") || name.starts_with(L"\\\\?\\Volume{");
}

std::string text_of(std::wstring_view wide) {
    return utf8_from_wide(wide);
}

std::wstring without_prefix(std::wstring_view path) {
    const std::u16string shown = without_long_path_prefix(
        std::u16string_view(reinterpret_cast<const char16_t*>(path.data()), path.size()));
    return std::wstring(shown.begin(), shown.end());
}

// The parts of a path between its separators, empty ones left out.
std::vector<std::string_view> parts_of(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        const std::size_t end = std::min(path.find_first_of("\\/", at), path.size());
        if (end > at) parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

}  // namespace

VolumeCalls system_volume_calls() {
    return {::GetVolumePathNameW,
            ::GetVolumeNameForVolumeMountPointW,
            ::GetDriveTypeW,
            ::QueryDosDeviceW,
            ::GetVolumeInformationW,
            ::CreateFileW,
            ::DeviceIoControl,
            ::GetFileSizeEx,
            ::ReadFile};
}

std::unique_ptr<RawVolume> open_raw_volume(std::string_view source, std::error_code& error,
                                           const VolumeCalls& calls) {
    error.clear();
    std::wstring name = wide_from_utf8(source);
    const bool device = names_device(name);
    if (!device) {
        name = system_path(source, error);
        if (error) return nullptr;
    }
    Handle handle(calls.create_file(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    device ? FILE_FLAG_NO_BUFFERING : FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    if (!handle.valid()) {
        error = last_error();
        return nullptr;
    }
    std::uint64_t size = 0;
    std::size_t sector = 1;
    DWORD returned = 0;
    if (device) {
        GET_LENGTH_INFORMATION length{};
        if (!calls.device_io_control(handle.get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                     sizeof length, &returned, nullptr)) {
            error = last_error();
            return nullptr;
        }
        size = static_cast<std::uint64_t>(length.Length.QuadPart);
        // Where the device does not tell its sector, 4,096 bytes serve every
        // sector size in use (512 and 4,096).
        DISK_GEOMETRY geometry{};
        sector = 4096;
        if (calls.device_io_control(handle.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0,
                                    &geometry, sizeof geometry, &returned, nullptr) &&
            geometry.BytesPerSector >= 512 && geometry.BytesPerSector <= kPiece / 4 &&
            (geometry.BytesPerSector & (geometry.BytesPerSector - 1)) == 0)
            sector = geometry.BytesPerSector;
    } else {
        LARGE_INTEGER length{};
        if (!calls.get_file_size(handle.get(), &length)) {
            error = last_error();
            return nullptr;
        }
        size = static_cast<std::uint64_t>(length.QuadPart);
    }
    return std::make_unique<VolumeHandle>(std::move(handle), size, sector, calls);
}

std::optional<NtfsVolumeOfPath> ntfs_volume_of(std::string_view root, std::string& why_not,
                                               const VolumeCalls& calls) {
    why_not.clear();
    std::error_code error;
    const std::wstring full = system_path(root, error);
    if (error) {
        why_not = "the root cannot be named: " + error_text(error);
        return std::nullopt;
    }
    if (full.starts_with(L"\\\\?\\UNC\\") || full.starts_with(L"\\\\.\\UNC\\")) {
        why_not = "it lies on a share";
        return std::nullopt;
    }
    // The volume calls are given paths without "\\?\" where they fit in
    // MAX_PATH: their pages name no other form for a mount point.
    const std::wstring plain = without_prefix(full);
    const std::wstring& asked = plain.size() < MAX_PATH ? plain : full;
    std::wstring volume(full.size() + MAX_PATH, L'\0');
    if (!calls.get_volume_path_name(asked.c_str(), volume.data(),
                                    static_cast<DWORD>(volume.size()))) {
        why_not = "the system does not tell which volume holds it: " + error_text(last_error());
        return std::nullopt;
    }
    volume.resize(std::wcslen(volume.c_str()));
    if (!volume.ends_with(L'\\')) volume.push_back(L'\\');
    const std::wstring shown_wide = without_prefix(volume);
    if (shown_wide.size() < MAX_PATH) volume = shown_wide;
    const std::string shown = text_of(shown_wide);

    switch (calls.get_drive_type(volume.c_str())) {
        case DRIVE_FIXED:
        case DRIVE_REMOVABLE:
        case DRIVE_RAMDISK:
            break;
        case DRIVE_REMOTE:
            why_not = "it lies on a share (" + shown + ")";
            return std::nullopt;
        case DRIVE_CDROM:
            why_not = "the volume " + shown + " is an optical drive";
            return std::nullopt;
        case DRIVE_NO_ROOT_DIR:
            why_not = "no volume is mounted at " + shown;
            return std::nullopt;
        default:
            why_not = "the system cannot tell what drive " + shown + " is";
            return std::nullopt;
    }
    const bool drive_root = shown_wide.size() == 3 && shown_wide[1] == L':';
    if (drive_root) {
        // A drive made by subst names a folder of another volume.
        // Its target may be as long as a path: the buffer takes the longest.
        std::wstring target(32768, L'\0');
        const std::wstring drive = shown_wide.substr(0, 2);
        if (calls.query_dos_device(drive.c_str(), target.data(),
                                   static_cast<DWORD>(target.size())) != 0 &&
            std::wstring_view(target.c_str()).starts_with(L"\\??\\")) {
            why_not = text_of(drive) + " is a substitute for " + text_of(target.c_str() + 4);
            return std::nullopt;
        }
    }
    wchar_t file_system[MAX_PATH + 1] = {};
    if (!calls.get_volume_information(volume.c_str(), nullptr, 0, nullptr, nullptr, nullptr,
                                      file_system, MAX_PATH)) {
        why_not =
            "the volume " + shown + " does not tell its file system: " + error_text(last_error());
        return std::nullopt;
    }
    if (std::wstring_view(file_system) != L"NTFS") {
        why_not = "the volume " + shown + " is " + text_of(file_system) + ", not NTFS";
        return std::nullopt;
    }

    NtfsVolumeOfPath found;
    if (drive_root) {
        found.source = "\\\\.\\" + text_of(shown_wide.substr(0, 2));
    } else {
        wchar_t name[64] = {};
        if (!calls.get_volume_name_for_mount_point(volume.c_str(), name, 64)) {
            why_not =
                "the volume mounted at " + shown + " has no name: " + error_text(last_error());
            return std::nullopt;
        }
        std::wstring_view guid(name);
        if (guid.ends_with(L'\\')) guid.remove_suffix(1);  // with it, the name is the root folder
        found.source = text_of(guid);
    }
    {
        EnabledPrivilege backup(SE_BACKUP_NAME);
        const auto opened = open_raw_volume(found.source, error, calls);
        std::byte boot[512];
        const int failed = opened ? opened->read(0, boot) : 0;
        if (!opened && error.value() == ERROR_ACCESS_DENIED) {
            why_not = "opening " + found.source + " needs an administrator";
            return std::nullopt;
        }
        if (!opened) {
            why_not = found.source + " cannot be opened: " + error_text(error);
            return std::nullopt;
        }
        if (failed != 0 || std::memcmp(boot + 3, "NTFS    ", 8) != 0) {
            why_not = found.source + " cannot be read as NTFS" +
                      (failed != 0 ? ": " + std::generic_category().message(failed) : "");
            return std::nullopt;
        }
    }

    // The root's own leading parts that name the volume's mount point, with
    // the system's "\\?\" left as the root has it.
    const std::string spelled(root.starts_with("\\\\?\\") ? root.substr(4) : root);
    const auto given = parts_of(spelled);
    const std::string volume_text = text_of(shown_wide);
    const auto mount = parts_of(volume_text);
    bool same = given.size() >= mount.size() && spelled.size() >= 2 && spelled[1] == ':';
    for (std::size_t at = 0; same && at < mount.size(); ++at)
        same = ascii_upper(given[at]) == ascii_upper(mount[at]);
    for (std::size_t at = mount.size(); same && at < given.size(); ++at)
        same = given[at] != "." && given[at] != "..";
    if (!same) {
        why_not = "the root does not name the volume's mount point " + volume_text + " itself";
        return std::nullopt;
    }
    const std::size_t prefix = root.size() - spelled.size();
    const std::string_view last = given[mount.size() - 1];
    std::size_t end = static_cast<std::size_t>(last.data() + last.size() - spelled.data());
    if (mount.size() == 1 && end < spelled.size())
        ++end;  // "C:\": a drive's root keeps its separator
    found.mount_point = std::string(root.substr(0, prefix + end));
    for (std::size_t at = mount.size(); at < given.size(); ++at)
        found.names_below.emplace_back(given[at]);
    return found;
}

}  // namespace kestrafin::platform::windows

namespace kestrafin::platform {

std::unique_ptr<RawVolume> RawVolume::open(std::string_view source, std::error_code& error) {
    return windows::open_raw_volume(source, error, windows::system_volume_calls());
}

std::optional<NtfsVolumeOfPath> ntfs_volume_of(std::string_view root, std::string& why_not) {
    return windows::ntfs_volume_of(root, why_not, windows::system_volume_calls());
}

bool host_lists_ntfs_in_collation_order() {
    return true;
}

}  // namespace kestrafin::platform
