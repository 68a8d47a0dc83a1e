#include "platform/large_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace kestrafin::platform {

namespace {
constexpr std::size_t kHugePage = 2 << 20;
}

void* allocate_large_block(std::size_t size) {
    // Map a huge page more than asked for and trim it to a huge-page boundary,
    // since only aligned ranges can be backed by huge pages.
    const std::size_t mapped = size + kHugePage;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
    if (aligned > start) munmap(raw, aligned - start);
    const std::uintptr_t end = start + mapped;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

void free_large_block(void* block, std::size_t size) noexcept {
    if (block != nullptr) munmap(block, size);
}

}  // namespace kestrafin::platform
