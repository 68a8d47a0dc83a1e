#include "platform/large_block.h"
#include "platform/windows/system.h"

#include <new>

namespace kestrafin::platform {

// Large pages need a privilege that ordinary users lack, so the blocks are
// plain committed pages straight from the system.
void* allocate_large_block(std::size_t size) {
    void* block = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void free_large_block(void* block, std::size_t /*size*/) noexcept {
    if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace kestrafin::platform
