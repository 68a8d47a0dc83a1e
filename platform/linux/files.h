// What the Linux backends share about the files and folders they hold open,
// and the choices of the Linux AtomicFileWriter that tests need to reach.
// Included only by the *_linux.cpp files and by tests.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace kestrafin::platform::linux_host {

// Raises the failure to <action> the file <what> named by `path` with the
// error number of the call that failed.
[[noreturn]] void raise_file_error(std::string_view action, std::string_view what,
                                   const std::string& path, int error);

// What kind of non-regular file `mode` describes.
FileKind kind_of(mode_t mode);

// Raises the refusal of a name that is not a regular file.
[[noreturn]] void raise_not_regular(std::string_view action, std::string_view what,
                                    const std::string& path, mode_t mode);

// True when the open file or folder `descriptor` lies on a kernel file system
// (proc, sysfs, cgroup, ...), whose files the kernel makes up from its own
// state and which may never end; false for every other file system and when
// the host cannot be asked.
bool is_kernel_file_system(int descriptor);

// Closes `descriptor` and raises a refusal when it is no regular file or
// lies on a kernel file system.
void refuse_unless_regular_user_file(int descriptor, std::string_view action, std::string_view what,
                                     const std::string& path);

// With `allowed` false, writers use named temporary files as on a host
// without unnamed ones (O_TMPFILE). For tests; not thread-safe.
void allow_unnamed_temporary_files(bool allowed);

// Calls `between` after each piece an in-place write puts into the target
// but the last, so that a test can act half way. For tests; not thread-safe.
void call_between_pieces_written_in_place(std::function<void()> between);

}  // namespace kestrafin::platform::linux_host
