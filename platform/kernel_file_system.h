// Tells the file systems that the kernel makes up from its own state (proc,
// sysfs, cgroup, ...) from those that hold user files.
#pragma once

#include <string>
#include <vector>

namespace kestrafin::platform {

// True when the open folder `descriptor` lies on a kernel file system; false
// for every other file system and when the host cannot be asked.
bool is_kernel_file_system(int descriptor);

// The names of the subfolders of the open folder `descriptor` that lead down
// to mounts of file systems other than kernel ones, each once; empty when
// the host cannot be asked.
std::vector<std::string> ways_to_user_mounts_below(int descriptor);

}  // namespace kestrafin::platform
