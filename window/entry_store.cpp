#include "window/entry_store.h"

#include <cstring>
#include <stdexcept>

#include "platform/process.h"

namespace kestrafin::window {

void EntryStore::BlockRelease::operator()(Block* block) const noexcept {
    platform::free_large_block(block->bytes, block->size);
    delete block;
}

void EntryStore::add(std::string_view text) {
    if (text.size() > UINT32_MAX) throw std::length_error("entry text too long");
    const std::size_t needed = text.size() + sizeof(std::uint32_t);
    if (blocks_.empty() || last_block_used_ + needed > blocks_.back()->size) {
        const std::size_t size = needed > kBlockSize ? needed : kBlockSize;
        auto* block = new Block{nullptr, size};
        try {
            block->bytes = static_cast<char*>(platform::allocate_large_block(size));
        } catch (...) {
            delete block;
            throw;
        }
        blocks_.emplace_back(block);
        last_block_used_ = 0;
    }
    if (count_ % kIndexPageSize == 0) index_pages_.emplace_back(new std::uint64_t[kIndexPageSize]);

    char* at = blocks_.back()->bytes + last_block_used_;
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
    const char* at = blocks_[reference >> 32]->bytes + (reference & 0xFFFFFFFFu);
    std::uint32_t length = 0;
    std::memcpy(&length, at, sizeof length);
    return {at + sizeof length, length};
}

void EntryStore::clear() {
    blocks_.clear();
    index_pages_.clear();
    last_block_used_ = 0;
    count_ = 0;
}

std::size_t EntryStore::bytes_reserved() const {
    std::size_t total = index_pages_.size() * kIndexPageSize * sizeof(std::uint64_t);
    for (const auto& block : blocks_) total += block->size;
    return total;
}

}  // namespace kestrafin::window
