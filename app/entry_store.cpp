#include "app/entry_store.h"

#include <cstring>
#include <stdexcept>

namespace kestrafin::app {

void EntryStore::add(std::string_view text) {
    if (text.size() > UINT32_MAX) throw std::length_error("entry text too long");
    const std::size_t needed = text.size() + sizeof(std::uint32_t);
    if (blocks_.empty() || last_block_used_ + needed > block_sizes_.back()) {
        const std::size_t size = needed > kBlockSize ? needed : kBlockSize;
        blocks_.emplace_back(new char[size]);
        block_sizes_.push_back(size);
        last_block_used_ = 0;
    }
    if (count_ % kIndexPageSize == 0) index_pages_.emplace_back(new std::uint64_t[kIndexPageSize]);

    char* at = blocks_.back().get() + last_block_used_;
    const auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(at, &length, sizeof length);
    if (!text.empty()) std::memcpy(at + sizeof length, text.data(), text.size());
    index_pages_.back()[count_ % kIndexPageSize] =
        (static_cast<std::uint64_t>(blocks_.size() - 1) << 32) | last_block_used_;
    last_block_used_ += needed;
    ++count_;
}

std::string_view EntryStore::text(std::size_t index) const {
    if (index >= count_) throw std::out_of_range("no list entry at this position");
    const std::uint64_t reference = index_pages_[index / kIndexPageSize][index % kIndexPageSize];
    const char* at = blocks_[reference >> 32].get() + (reference & 0xFFFFFFFFu);
    std::uint32_t length = 0;
    std::memcpy(&length, at, sizeof length);
    return {at + sizeof length, length};
}

void EntryStore::clear() {
    blocks_.clear();
    block_sizes_.clear();
    index_pages_.clear();
    last_block_used_ = 0;
    count_ = 0;
}

std::size_t EntryStore::bytes_reserved() const {
    std::size_t total = index_pages_.size() * kIndexPageSize * sizeof(std::uint64_t);
    for (const std::size_t size : block_sizes_) total += size;
    return total;
}

}  // namespace kestrafin::app
