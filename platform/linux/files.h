// What the Linux backends share about files and folders they hold open.
// Included only by the *_linux.cpp files.
#pragma once

namespace kestrafin::platform::linux_host {

// True when the open file or folder `descriptor` lies on a kernel file system
// (proc, sysfs, cgroup, ...), whose files the kernel makes up from its own
// state and which may never end; false for every other file system and when
// the host cannot be asked.
bool is_kernel_file_system(int descriptor);

}  // namespace kestrafin::platform::linux_host
