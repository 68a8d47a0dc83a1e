// How the POSIX file code reports a failure: "cannot <action> <what> '<path>'"
// with the error number of the call that failed.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace kestrafin::platform::posix {

[[noreturn]] void raise_file_error(std::string_view action, std::string_view what,
                                   const std::string& path, int error);

// What kind of non-regular file `mode` describes.
FileKind kind_of(mode_t mode);

// Raises the refusal of a name that is not a regular file.
[[noreturn]] void raise_not_regular(std::string_view action, std::string_view what,
                                    const std::string& path, mode_t mode);

// Closes `descriptor` and raises a refusal when it is no regular file or
// lies on a kernel file system (proc, sysfs, ...), whose files are made up
// by the kernel and may never end.
void refuse_unless_regular_user_file(int descriptor, std::string_view action, std::string_view what,
                                     const std::string& path);

}  // namespace kestrafin::platform::posix
