// What the Linux backends share about the files and folders they hold open,
// and the choices of the Linux AtomicFileWriter that tests need to reach.
// Included only by the *_linux.cpp files, by tests and by Linux-only tools.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace kestrafin::platform::linux_host {

// True when the open file or folder `descriptor` lies on a kernel file system
// (proc, sysfs, cgroup, ...), whose files the kernel makes up from its own
// state and which may never end; false for every other file system and when
// the host cannot be asked.
bool is_kernel_file_system(int descriptor);

// With `allowed` false, writers use named temporary files as on a host
// without unnamed ones (O_TMPFILE). For tests; not thread-safe.
void allow_unnamed_temporary_files(bool allowed);

// Calls `between` after each piece an in-place write puts into the target
// but the last, so that a test can act half way. For tests; not thread-safe.
void call_between_pieces_written_in_place(std::function<void()> between);

}  // namespace kestrafin::platform::linux_host
