// Raw volumes on Windows, against volumes Wine cannot show: the system's
// answers are played, the bytes come from a real file.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/windows/raw_volume_windows.h"
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin::platform;
using namespace kestrafin::platform::windows;

namespace {

// The played host: one volume holding the root, and the file whose bytes
// stand for it.
struct {
    std::wstring volume_path;  // GetVolumePathNameW's answer
    UINT drive_type = DRIVE_FIXED;
    std::wstring dos_target;  // QueryDosDeviceW's answer
    std::wstring file_system = L"NTFS";
    DWORD open_error = 0;  // CreateFileW fails with it
    std::wstring image;    // opened in place of any volume
    std::wstring opened;   // the name CreateFileW was given
    DWORD sector = 4096;
} host;

BOOL WINAPI volume_path(LPCWSTR, LPWSTR out, DWORD length) {
    if (host.volume_path.size() + 1 > length) return FALSE;
    std::wcscpy(out, host.volume_path.c_str());
    return TRUE;
}
BOOL WINAPI volume_name(LPCWSTR, LPWSTR out, DWORD) {
    std::wcscpy(out, L"\\\\?\\Volume{0c5a1e1f-0000-4000-8000-000000000001}\\");
    return TRUE;
}
UINT WINAPI drive_type(LPCWSTR) {
    return host.drive_type;
}
DWORD WINAPI dos_device(LPCWSTR drive, LPWSTR out, DWORD) {
    const std::wstring target = host.dos_target.empty()
                                    ? L"\\Device\\HarddiskVolume" + std::wstring(drive, 1)
                                    : host.dos_target;
    std::wcscpy(out, target.c_str());
    return static_cast<DWORD>(target.size() + 2);
}
BOOL WINAPI volume_information(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR name,
                               DWORD) {
    std::wcscpy(name, host.file_system.c_str());
    return TRUE;
}
HANDLE WINAPI create_file(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD, HANDLE) {
    host.opened = name;
    if (host.open_error != 0) {
        ::SetLastError(host.open_error);
        return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileW(host.image.c_str(), access, share, security, disposition, 0, nullptr);
}
BOOL WINAPI device_control(HANDLE file, DWORD code, LPVOID, DWORD, LPVOID out, DWORD, LPDWORD,
                           LPOVERLAPPED) {
    if (code == IOCTL_DISK_GET_LENGTH_INFO) {
        LARGE_INTEGER size{};
        ::GetFileSizeEx(file, &size);
        static_cast<GET_LENGTH_INFORMATION*>(out)->Length = size;
        return TRUE;
    }
    if (code == IOCTL_DISK_GET_DRIVE_GEOMETRY) {
        *static_cast<DISK_GEOMETRY*>(out) = {};
        static_cast<DISK_GEOMETRY*>(out)->BytesPerSector = host.sector;
        return TRUE;
    }
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}
// As a volume handle does: whole sectors only, into a buffer aligned to one.
BOOL WINAPI read_sectors(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED at) {
    if (size % host.sector != 0 || at->Offset % host.sector != 0 ||
        reinterpret_cast<std::uintptr_t>(buffer) % host.sector != 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return ::ReadFile(file, buffer, size, read, at);
}

VolumeCalls played() {
    VolumeCalls calls = system_volume_calls();
    calls.get_volume_path_name = volume_path;
    calls.get_volume_name_for_mount_point = volume_name;
    calls.get_drive_type = drive_type;
    calls.query_dos_device = dos_device;
    calls.get_volume_information = volume_information;
    calls.create_file = create_file;
    calls.device_io_control = device_control;
    calls.read_file = read_sectors;
    return calls;
}

std::string image_bytes(std::size_t size, bool ntfs) {
    std::string bytes(size, '\0');
    for (std::size_t at = 0; at < size; ++at) bytes[at] = static_cast<char>(at * 13 % 251);
    if (ntfs) std::memcpy(bytes.data() + 3, "NTFS    ", 8);
    return bytes;
}

class WindowsRawVolume : public ::testing::Test {
  protected:
    void SetUp() override {
        host = {};
        host.image = kestrafin::testing::long_form(folder_.path() + "\\volume.img").wstring();
        write(image_bytes(5 * 4096, true));
    }
    void write(const std::string& bytes) {
        std::ofstream(std::filesystem::path(host.image), std::ios::binary) << bytes;
    }
    kestrafin::testing::WindowsTempFolder folder_;
};

}  // namespace

TEST_F(WindowsRawVolume, ReadsAnyRangeOfADeviceInWholeSectorsAndOfAFileAsItIs) {
    const std::string bytes = image_bytes(5 * 4096, true);
    std::error_code error;
    auto device = open_raw_volume("\\\\.\\C:", error, played());
    ASSERT_NE(device, nullptr) << error.message();
    EXPECT_EQ(host.opened, L"\\\\.\\C:");
    auto file = RawVolume::open(folder_.path() + "\\volume.img", error);
    ASSERT_NE(file, nullptr) << error.message();
    const struct {
        std::uint64_t offset;
        std::size_t size;
        int result;
    } rows[] = {{0, 512, 0},      {3, 11, 0},    {4095, 2, 0},    {4000, 3 * 4096, 0},
                {0, 5 * 4096, 0}, {20479, 1, 0}, {20479, 2, EIO}, {20480, 1, EIO}};
    for (RawVolume* volume : {device.get(), file.get()}) {
        EXPECT_EQ(volume->size(), bytes.size());
        for (const auto& row : rows) {
            std::vector<std::byte> out(row.size);
            EXPECT_EQ(volume->read(row.offset, out), row.result) << row.offset << "+" << row.size;
            if (row.result == 0) {
                EXPECT_EQ(std::memcmp(out.data(), bytes.data() + row.offset, row.size), 0)
                    << row.offset << "+" << row.size;
            }
        }
    }
}

TEST_F(WindowsRawVolume, AFolderIsReadFromItsVolumeOnlyWhereThatIsALocalNtfsVolumeItMayOpen) {
    struct Host {
        const wchar_t* volume_path;
        UINT drive_type;
        const wchar_t* dos_target;
        const wchar_t* file_system;
        DWORD open_error;
        bool ntfs_bytes;
    };
    const auto play = [](const Host& played_host) {
        host.volume_path = played_host.volume_path;
        host.drive_type = played_host.drive_type;
        host.dos_target = played_host.dos_target;
        host.file_system = played_host.file_system;
        host.open_error = played_host.open_error;
        std::ofstream(std::filesystem::path(host.image), std::ios::binary)
            << image_bytes(5 * 4096, played_host.ntfs_bytes);
    };
    const Host local{L"\\\\?\\C:\\", DRIVE_FIXED, L"", L"NTFS", 0, true};
    const struct {
        const char* root;
        Host host;
        const char* source;
        const char* mount_point;
        std::vector<std::string> names;
    } found_rows[] = {
        {"C:\\Data\\Users", local, "\\\\.\\C:", "C:\\", {"Data", "Users"}},
        {"c:/mnt/Disk2/x",
         {L"\\\\?\\C:\\Mnt\\disk2\\", DRIVE_FIXED, L"", L"NTFS", 0, true},
         "\\\\?\\Volume{0c5a1e1f-0000-4000-8000-000000000001}",
         "c:/mnt/Disk2",
         {"x"}},
        {"\\\\?\\D:\\",
         {L"\\\\?\\D:\\", DRIVE_REMOVABLE, L"", L"NTFS", 0, true},
         "\\\\.\\D:",
         "\\\\?\\D:\\",
         {}},
    };
    for (const auto& row : found_rows) {
        play(row.host);
        std::string why_not;
        const auto found = ntfs_volume_of(row.root, why_not, played());
        ASSERT_TRUE(found) << row.root << ": " << why_not;
        EXPECT_EQ(found->source, row.source) << row.root;
        EXPECT_EQ(found->mount_point, row.mount_point) << row.root;
        EXPECT_EQ(found->names_below, row.names) << row.root;
    }

    // clang-format off
    const struct {
        const char* root;
        Host host;
        const char* reason;
    } refused_rows[] = {
        {"\\\\fs01\\share\\x", local, "on a share"},
        {"Z:\\x", {L"Z:\\", DRIVE_REMOTE, L"", L"NTFS", 0, true}, "on a share (Z:\\)"},
        {"S:\\x", {L"S:\\", DRIVE_FIXED, L"\\??\\C:\\Projects", L"NTFS", 0, true},
         "S: is a substitute for C:\\Projects"},
        {"E:\\x", {L"E:\\", DRIVE_FIXED, L"", L"ReFS", 0, true}, "E:\\ is ReFS, not NTFS"},
        {"R:\\x", {L"R:\\", DRIVE_CDROM, L"", L"UDF", 0, true}, "optical drive"},
        {"C:\\x", {L"C:\\", DRIVE_FIXED, L"", L"NTFS", ERROR_ACCESS_DENIED, true},
         "opening \\\\.\\C: needs an administrator"},
        {"C:\\x", {L"C:\\", DRIVE_FIXED, L"", L"NTFS", 0, false}, "cannot be read as NTFS"},
        {"C:\\link\\x", {L"D:\\", DRIVE_FIXED, L"", L"NTFS", 0, true},
         "does not name the volume's mount point D:\\ itself"},
    };
    // clang-format on
    for (const auto& row : refused_rows) {
        play(row.host);
        std::string why_not;
        EXPECT_FALSE(ntfs_volume_of(row.root, why_not, played())) << row.root;
        EXPECT_NE(why_not.find(row.reason), std::string::npos) << row.root << ": " << why_not;
    }
}
