// Compact storage for the texts of the result list: each text lives in large
// shared blocks behind a four-byte length, and the index holds one 64-bit
// reference per text, itself in fixed-size pages so that it never doubles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrafin::window {

class EntryStore {
  public:
    void add(std::string_view text);
    // The text at `index`, counted from 0; valid until clear().
    std::string_view text(std::size_t index) const;
    std::size_t size() const { return count_; }
    void clear();
    // Bytes held, for memory figures.
    std::size_t bytes_reserved() const;

  private:
    static constexpr std::size_t kBlockSize = 4 << 20;

    struct Block {
        char* bytes;
        std::size_t size;
    };
    struct BlockRelease {
        void operator()(Block* block) const noexcept;
    };
    using OwnedBlock = std::unique_ptr<Block, BlockRelease>;

    static constexpr std::size_t kIndexPageSize = 1 << 16;

    std::vector<OwnedBlock> blocks_;
    std::size_t last_block_used_ = 0;
    std::vector<std::unique_ptr<std::uint64_t[]>> index_pages_;
    std::size_t count_ = 0;
};

}  // namespace kestrafin::window
