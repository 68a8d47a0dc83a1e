// Tells the file systems that the kernel makes up from its own state (proc,
// sysfs, cgroup, ...) from those that hold user files.
#pragma once

namespace kestrafin::platform {

// True when the open folder `descriptor` lies on a kernel file system; false
// for every other file system and when the host cannot be asked.
bool is_kernel_file_system(int descriptor);

}  // namespace kestrafin::platform
