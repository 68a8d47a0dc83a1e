// Raw volumes on Linux: an image file or a block device read with pread,
// and the NTFS volume a folder lies on told by the process's mount table.
// ntfs-3g mounts show as "fuse" (an image) or "fuseblk" (a device), so a
// FUSE mount counts as NTFS only when its source's boot sector says so.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/linux/raw_volume.h"
#include "platform/raw_volume.h"

namespace kestrafin::platform {

namespace {

class DeviceVolume final : public RawVolume {
  public:
    DeviceVolume(int descriptor, std::uint64_t size) : descriptor_(descriptor), size_(size) {}
    ~DeviceVolume() override { ::close(descriptor_); }
    DeviceVolume(const DeviceVolume&) = delete;
    DeviceVolume& operator=(const DeviceVolume&) = delete;

    std::uint64_t size() const override { return size_; }

    int read(std::uint64_t offset, std::span<std::byte> out) override {
        if (offset > size_ || out.size() > size_ - offset) return EIO;
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t got = ::pread(descriptor_, out.data() + done, out.size() - done,
                                        static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return errno;
            if (got == 0) return EIO;  // the source shrank under us
            done += static_cast<std::size_t>(got);
        }
        return 0;
    }

  private:
    int descriptor_;
    std::uint64_t size_;
};

// A mount table field with the octal escapes of blanks and backslashes undone.
std::string unescaped(std::string_view field) {
    std::string text;
    for (std::size_t at = 0; at < field.size(); ++at) {
        if (field[at] == '\\' && at + 3 < field.size()) {
            text.push_back(static_cast<char>((field[at + 1] - '0') * 64 +
                                             (field[at + 2] - '0') * 8 + (field[at + 3] - '0')));
            at += 3;
        } else {
            text.push_back(field[at]);
        }
    }
    return text;
}

// Whether `path` is `point` or lies below it.
bool lies_in(std::string_view path, std::string_view point) {
    if (point == "/") return path.starts_with('/');
    return path.starts_with(point) && (path.size() == point.size() || path[point.size()] == '/');
}

std::string real_path_of(const std::string& path) {
    char* real = ::realpath(path.empty() ? "." : path.c_str(), nullptr);
    if (real == nullptr) return {};
    std::string text(real);
    std::free(real);
    return text;
}

bool is_share_type(std::string_view type) {
    static constexpr std::array<std::string_view, 14> kShares = {
        "nfs", "nfs4",      "cifs",       "smb3",        "smbfs",     "9p",    "ceph",
        "afs", "glusterfs", "fuse.sshfs", "fuse.rclone", "fuse.s3fs", "davfs", "fuse.davfs2"};
    return std::find(kShares.begin(), kShares.end(), type) != kShares.end();
}

bool may_be_ntfs_type(std::string_view type) {
    return type == "ntfs" || type == "ntfs3" || type == "fuse" || type == "fuseblk" ||
           type == "fuse.ntfs-3g" || type == "fuse.lowntfs-3g";
}

}  // namespace

namespace linux_host {

std::optional<MountLine> mount_holding(std::string_view table, std::string_view real_path) {
    std::optional<MountLine> best;
    std::size_t line_start = 0;
    while (line_start < table.size()) {
        std::size_t line_end = table.find('\n', line_start);
        if (line_end == std::string_view::npos) line_end = table.size();
        const std::string_view line = table.substr(line_start, line_end - line_start);
        line_start = line_end + 1;
        // id parent major:minor root point options [optional...] - type source super
        std::array<std::string_view, 5> fields;
        std::size_t at = 0;
        bool whole = true;
        for (auto& field : fields) {
            const std::size_t end = line.find(' ', at);
            if (end == std::string_view::npos) {
                whole = false;
                break;
            }
            field = line.substr(at, end - at);
            at = end + 1;
        }
        const std::size_t separator = line.find(" - ", at > 0 ? at - 1 : 0);
        if (!whole || separator == std::string_view::npos) continue;
        const std::string_view tail = line.substr(separator + 3);
        const std::size_t type_end = tail.find(' ');
        if (type_end == std::string_view::npos) continue;
        const std::size_t source_end = std::min(tail.find(' ', type_end + 1), tail.size());
        MountLine mount{unescaped(fields[3]), unescaped(fields[4]),
                        std::string(tail.substr(0, type_end)),
                        unescaped(tail.substr(type_end + 1, source_end - type_end - 1))};
        // Later lines are mounted over earlier ones on the same point.
        if (lies_in(real_path, mount.point) && (!best || mount.point.size() >= best->point.size()))
            best = std::move(mount);
    }
    return best;
}

}  // namespace linux_host

std::unique_ptr<RawVolume> RawVolume::open(std::string_view source, std::error_code& error) {
    error.clear();
    const std::string path(source);
    // Without waiting: a FIFO named as a source is refused, never waited on.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (descriptor < 0) {
        error.assign(errno, std::generic_category());
        return nullptr;
    }
    struct stat status {};
    std::uint64_t size = 0;
    int failure = 0;
    if (::fstat(descriptor, &status) != 0) {
        failure = errno;
    } else if (S_ISREG(status.st_mode)) {
        size = static_cast<std::uint64_t>(status.st_size);
    } else if (S_ISBLK(status.st_mode)) {
        if (::ioctl(descriptor, BLKGETSIZE64, &size) != 0) failure = errno;
    } else {
        failure = S_ISDIR(status.st_mode) ? EISDIR : ENOTBLK;
    }
    if (failure != 0) {
        ::close(descriptor);
        error.assign(failure, std::generic_category());
        return nullptr;
    }
    return std::make_unique<DeviceVolume>(descriptor, size);
}

std::optional<NtfsVolumeOfPath> ntfs_volume_of(std::string_view root, std::string& why_not) {
    why_not.clear();
    const std::string given(root);
    const std::string real = real_path_of(given);
    if (real.empty()) {
        why_not = "the root cannot be reached: " + std::string(std::strerror(errno));
        return std::nullopt;
    }
    std::string table;
    {
        const int file = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        char block[16384];
        for (ssize_t got = 0; file >= 0 && (got = ::read(file, block, sizeof block)) > 0;)
            table.append(block, static_cast<std::size_t>(got));
        if (file >= 0) ::close(file);
    }
    const auto mount = linux_host::mount_holding(table, real);
    if (!mount) {
        why_not = "the mount table names no mount holding " + real;
        return std::nullopt;
    }
    if (is_share_type(mount->type)) {
        why_not = "it lies on a share (" + mount->type + " " + mount->source + ")";
        return std::nullopt;
    }
    if (!may_be_ntfs_type(mount->type)) {
        why_not = "the volume is " + mount->type + ", not NTFS";
        return std::nullopt;
    }
    std::error_code error;
    const auto volume = RawVolume::open(mount->source, error);
    std::array<std::byte, 512> boot{};
    if (volume == nullptr ||
        (error.assign(volume->read(0, boot), std::generic_category()), error)) {
        why_not = "its volume " + mount->source + " cannot be read: " + error.message();
        return std::nullopt;
    }
    if (std::memcmp(boot.data() + 3, "NTFS    ", 8) != 0) {
        why_not = "the volume " + mount->source + " (" + mount->type + ") is not NTFS";
        return std::nullopt;
    }

    // The root's own leading part that reaches the mount point; below it,
    // plain names (links among them are the caller's to meet).
    std::vector<std::string> names;
    for (std::size_t at = 0; at <= given.size();) {
        const std::size_t end = std::min(given.find('/', at), given.size());
        if (end > at) names.emplace_back(given.substr(at, end - at));
        at = end + 1;
    }
    const bool absolute = given.starts_with('/');
    std::string prefix = absolute ? "/" : "";
    std::size_t taken = 0;
    while (real_path_of(prefix) != mount->point) {
        if (taken == names.size()) {
            why_not = "the root reaches its volume " + mount->point + " through a link below it";
            return std::nullopt;
        }
        if (!prefix.empty() && !prefix.ends_with('/')) prefix += '/';
        prefix += names[taken++];
    }
    NtfsVolumeOfPath found{mount->source, prefix, {}};
    for (std::size_t at = 1; at < mount->root.size();) {
        const std::size_t end = std::min(mount->root.find('/', at), mount->root.size());
        if (end > at) found.names_below.push_back(mount->root.substr(at, end - at));
        at = end + 1;
    }
    for (; taken < names.size(); ++taken) {
        if (names[taken] == "." || names[taken] == "..") {
            why_not = "the root names \"" + names[taken] + "\" below its volume's root";
            return std::nullopt;
        }
        found.names_below.push_back(names[taken]);
    }
    return found;
}

bool host_lists_ntfs_in_collation_order() {
    return false;
}

}  // namespace kestrafin::platform
