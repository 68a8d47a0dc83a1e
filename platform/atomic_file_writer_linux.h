// Choices of the Linux AtomicFileWriter that tests need to reach.
#pragma once

namespace kestrafin::platform::posix {

// With `allowed` false, writers use named temporary files as on a host
// without unnamed ones (O_TMPFILE). For tests; not thread-safe.
void allow_unnamed_temporary_files(bool allowed);

}  // namespace kestrafin::platform::posix
