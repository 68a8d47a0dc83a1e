// Kernel file systems on Linux, told by the magic number fstatfs reports.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/kernel_file_system.h"

namespace kestrafin::platform {

namespace {

constexpr std::uint64_t kTmpfsMagic = 0x01021994;

// autofs is left out: it is where networks mount users' home folders.
constexpr std::array<std::uint64_t, 17> kKernelMagics = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x1cd1,      // devpts
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0x73636673,  // securityfs
    0x6165676C,  // pstore
    0xcafe4a11,  // bpf
    0x62656570,  // configfs
    0xde5e81e4,  // efivarfs
    0x65735543,  // fusectl
    0x19800202,  // mqueue
    0x42494e4d,  // binfmt_misc
    0x6e736673,  // nsfs
    0x67596969,  // rpc_pipefs
};

std::string read_small_file(const char* path) {
    std::string content;
    const int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return content;
    char block[16384];
    ssize_t got = 0;
    while ((got = ::read(file, block, sizeof block)) > 0)
        content.append(block, static_cast<std::size_t>(got));
    ::close(file);
    return content;
}

// Calls `take` with each line of the mount table until it returns true.
template <typename Take>
void for_each_mount(Take take) {
    const std::string table = read_small_file("/proc/self/mountinfo");
    std::size_t line_start = 0;
    while (line_start < table.size()) {
        std::size_t line_end = table.find('\n', line_start);
        if (line_end == std::string::npos) line_end = table.size();
        const std::string_view line(table.data() + line_start, line_end - line_start);
        line_start = line_end + 1;
        if (take(line)) return;
    }
}

// devtmpfs reports the magic number of tmpfs, so its name is looked up in
// the mount table by the folder's device number.
bool is_devtmpfs(int descriptor) {
    struct stat folder {};
    if (fstat(descriptor, &folder) != 0) return false;
    const std::string device = " " + std::to_string(major(folder.st_dev)) + ":" +
                               std::to_string(minor(folder.st_dev)) + " ";
    bool found = false;
    for_each_mount([&](std::string_view line) {
        if (line.find(device) == std::string_view::npos) return false;
        const std::size_t separator = line.find(" - ");
        found = separator != std::string_view::npos &&
                line.substr(separator + 3).starts_with("devtmpfs ");
        return found;
    });
    return found;
}

// The mount point of a mount table line (its fifth field), with the octal
// escapes of blanks and backslashes undone.
std::string mount_point_of(std::string_view line) {
    std::size_t start = 0;
    for (int field = 0; field < 4; ++field) {
        start = line.find(' ', start);
        if (start == std::string_view::npos) return {};
        ++start;
    }
    const std::size_t end = std::min(line.find(' ', start), line.size());
    std::string point;
    for (std::size_t at = start; at < end; ++at) {
        if (line[at] == '\\' && at + 3 < end) {
            point.push_back(static_cast<char>((line[at + 1] - '0') * 64 + (line[at + 2] - '0') * 8 +
                                              (line[at + 3] - '0')));
            at += 3;
        } else {
            point.push_back(line[at]);
        }
    }
    return point;
}

bool is_kernel_mount(const std::string& point) {
    const int mount = ::open(point.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (mount < 0) return true;  // out of reach: nothing to walk there
    const bool kernel = is_kernel_file_system(mount);
    ::close(mount);
    return kernel;
}

}  // namespace

bool is_kernel_file_system(int descriptor) {
    struct statfs system {};
    if (fstatfs(descriptor, &system) != 0) return false;
    const auto magic = static_cast<std::uint64_t>(static_cast<std::uint32_t>(system.f_type));
    if (std::find(kKernelMagics.begin(), kKernelMagics.end(), magic) != kKernelMagics.end())
        return true;
    return magic == kTmpfsMagic && is_devtmpfs(descriptor);
}

std::vector<std::string> ways_to_user_mounts_below(int descriptor) {
    std::vector<std::string> ways;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    std::string folder(PATH_MAX, '\0');
    const ssize_t got = ::readlink(link, folder.data(), folder.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= folder.size()) return ways;
    folder.resize(static_cast<std::size_t>(got));
    if (folder.back() != '/') folder.push_back('/');
    for_each_mount([&](std::string_view line) {
        const std::string point = mount_point_of(line);
        if (point.size() <= folder.size() || !point.starts_with(folder)) return false;
        const std::string way =
            point.substr(folder.size(), point.find('/', folder.size()) - folder.size());
        if (std::find(ways.begin(), ways.end(), way) == ways.end() && !is_kernel_mount(point))
            ways.push_back(way);
        return false;
    });
    return ways;
}

}  // namespace kestrafin::platform
