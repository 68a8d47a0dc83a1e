// Kernel file systems on Linux, told by the magic number fstatfs reports.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/kernel_file_system.h"

namespace kestrafin::platform {

namespace {

constexpr std::uint64_t kTmpfsMagic = 0x01021994;

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
constexpr std::uint64_t kAutofsMagic = 0x0187;

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

// devtmpfs reports the magic number of tmpfs, so its name is looked up in
// the mount table by the folder's device number.
bool is_devtmpfs(int descriptor) {
    struct stat folder {};
    if (fstat(descriptor, &folder) != 0) return false;
    const std::string device = " " + std::to_string(major(folder.st_dev)) + ":" +
                               std::to_string(minor(folder.st_dev)) + " ";
    const std::string table = read_small_file("/proc/self/mountinfo");
    std::size_t line_start = 0;
    while (line_start < table.size()) {
        std::size_t line_end = table.find('\n', line_start);
        if (line_end == std::string::npos) line_end = table.size();
        const std::string_view line(table.data() + line_start, line_end - line_start);
        line_start = line_end + 1;
        if (line.find(device) == std::string_view::npos) continue;
        const std::size_t separator = line.find(" - ");
        if (separator != std::string_view::npos &&
            line.substr(separator + 3).starts_with("devtmpfs "))
            return true;
    }
    return false;
}

}  // namespace

bool is_kernel_file_system(int descriptor) {
    struct statfs system {};
    if (fstatfs(descriptor, &system) != 0) return false;
    const auto magic = static_cast<std::uint64_t>(static_cast<std::uint32_t>(system.f_type));
    if (magic == kAutofsMagic) return true;
    if (std::find(kKernelMagics.begin(), kKernelMagics.end(), magic) != kKernelMagics.end())
        return true;
    return magic == kTmpfsMagic && is_devtmpfs(descriptor);
}

}  // namespace kestrafin::platform
