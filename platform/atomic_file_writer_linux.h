// Choices of the Linux AtomicFileWriter that tests need to reach.
#pragma once

#include <functional>

namespace kestrafin::platform::posix {

// With `allowed` false, writers use named temporary files as on a host
// without unnamed ones (O_TMPFILE). For tests; not thread-safe.
void allow_unnamed_temporary_files(bool allowed);

// Calls `between` after each piece an in-place write puts into the target
// but the last, so that a test can act half way. For tests; not thread-safe.
void call_between_pieces_written_in_place(std::function<void()> between);

}  // namespace kestrafin::platform::posix
