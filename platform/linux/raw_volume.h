// How the Linux backend finds the mount a folder lies on, for tests.
// Included only by raw_volume_linux.cpp and by tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrafin::platform::linux_host {

struct MountLine {
    std::string root;    // the folder of its file system that the mount shows
    std::string point;   // where it is mounted
    std::string type;    // "ext4", "fuseblk", "nfs4", ...
    std::string source;  // "/dev/sdb1", an image's path, "server:/export"
};

// The mount of /proc/self/mountinfo's text `table` that holds the resolved
// path `real_path`: the one of the longest mount point, the last mounted
// where several share it. Nothing when no line holds it.
std::optional<MountLine> mount_holding(std::string_view table, std::string_view real_path);

}  // namespace kestrafin::platform::linux_host
