// Whether the calling thread had to wait for the host: a folder on a share
// or on a disk whose data is not cached makes the reader wait, one in memory
// does not.
#pragma once

#include <cstdint>
#include <optional>

namespace kestrafin::platform {

// How often the calling thread has so far given up the processor to wait for
// something, not counting times it was merely preempted; nothing where the
// host cannot tell.
std::optional<std::uint64_t> thread_waits();

}  // namespace kestrafin::platform
