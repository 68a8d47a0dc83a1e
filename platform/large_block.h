// Large blocks of memory straight from the host, backed by huge pages where
// the host offers them, so that filling a block takes few page faults.
#pragma once

#include <cstddef>

namespace kestrafin::platform {

// A block of `size` bytes; raises std::bad_alloc when the host has none.
void* allocate_large_block(std::size_t size);

// Returns a block from allocate_large_block with the same size.
void free_large_block(void* block, std::size_t size) noexcept;

}  // namespace kestrafin::platform
