#include "volume/index_blocks.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "volume/le_bytes.h"

namespace kestrafin::volume {

namespace {

constexpr std::size_t kBlockHeader = 0x18;  // where an index block's node starts
// Far deeper than any index of 2^32 names; bounds the descent's stack.
constexpr unsigned kDeepestTree = 64;

struct Reader {
    ByteSource& source;
    const FolderIndex& index;
    const IndexGeometry& geometry;
    const std::function<void(std::uint64_t, const FileName&)>& visit;
    std::vector<std::string> damage;

    // The bytes a child VCN counts in: clusters, or 512 bytes when a block
    // is smaller than a cluster.
    std::uint64_t vcn_size() const {
        return geometry.block_size >= geometry.cluster_size ? geometry.cluster_size : 512;
    }

    bool block_in_use(std::uint64_t number) const {
        std::uint64_t byte = number / 8;
        return byte < index.bitmap.size() &&
               (std::to_integer<unsigned>(index.bitmap[byte]) >> (number % 8)) & 1;
    }

    // Reads block `number` into `block` and its entries, which point into
    // it, into `entries`.
    bool load(std::uint64_t number, std::vector<std::byte>& block,
              std::vector<IndexNodeEntry>& entries) {
        std::uint64_t offset = number * geometry.block_size;
        std::string why;
        block.resize(geometry.block_size);
        if (offset / geometry.block_size != number || offset >= index.allocation_size ||
            geometry.block_size > index.allocation_size - offset) {
            why = "lies past the index's allocation";
        } else if (int err = read_through_runs(source, index.allocation, geometry.cluster_size,
                                               offset, block);
                   err != 0) {
            why = "could not be read (" + std::string(std::strerror(err)) + ")";
        } else if (std::memcmp(block.data(), "INDX", 4) != 0) {
            why = "has no INDX signature";
        } else if (!apply_fixups(block, why)) {
        } else if (le64(block.data() + 0x10) * vcn_size() != offset) {
            why = "names itself block " + std::to_string(le64(block.data() + 0x10));
        } else if (read_index_node(std::span(block).subspan(kBlockHeader), entries, why)) {
            return true;
        }
        damage.push_back("index block " + std::to_string(number) + " " + why);
        return false;
    }

    void emit(const IndexNodeEntry& entry) {
        if (entry.last) return;
        FileName name;
        std::string why;
        if (!read_file_name(entry.key, name, why)) {
            damage.push_back("an index entry: " + why);
            return;
        }
        visit(entry.reference, name);
    }

    bool root_entries(std::vector<IndexNodeEntry>& entries) {
        std::string why;
        if (index.root.size() < 0x10 || le32(index.root.data()) != kFileName) {
            damage.push_back("its index root is not a file name index");
            return false;
        }
        if (!read_index_node(index.root.subspan(0x10), entries, why)) {
            damage.push_back("its index root: " + why);
            return false;
        }
        return true;
    }

    // Blocks past the bitmap's bits are never in use, so the count is
    // bounded by bytes read, not by the size the allocation claims.
    std::uint64_t block_count() const {
        if (index.allocation.empty()) return 0;
        return std::min<std::uint64_t>(index.allocation_size / geometry.block_size,
                                       std::uint64_t{index.bitmap.size()} * 8);
    }

    void tree(const std::vector<IndexNodeEntry>& entries, std::set<std::uint64_t>& entered,
              unsigned depth) {
        for (const IndexNodeEntry& entry : entries) {
            if (entry.has_child) descend(entry.child_vcn, entered, depth + 1);
            emit(entry);
        }
    }

    void descend(std::uint64_t vcn, std::set<std::uint64_t>& entered, unsigned depth) {
        if (depth > kDeepestTree) {
            damage.push_back("its index's tree is more than " + std::to_string(kDeepestTree) +
                             " levels deep");
            return;
        }
        std::uint64_t offset = vcn * vcn_size();
        if (offset / vcn_size() != vcn || offset % geometry.block_size != 0 ||
            offset / geometry.block_size >= block_count()) {
            damage.push_back("an index entry points at block vcn " + std::to_string(vcn) +
                             ", outside the index");
            return;
        }
        std::uint64_t number = offset / geometry.block_size;
        if (!entered.insert(number).second) {
            damage.push_back("index block " + std::to_string(number) + " is reached twice");
            return;
        }
        if (!block_in_use(number)) {
            damage.push_back("an index entry points at block " + std::to_string(number) +
                             ", which is not in use");
            return;
        }
        std::vector<std::byte> block;
        std::vector<IndexNodeEntry> entries;
        if (load(number, block, entries)) tree(entries, entered, depth);
    }
};

}  // namespace

bool read_index_node(std::span<const std::byte> node, std::vector<IndexNodeEntry>& out,
                     std::string& error) {
    if (node.size() < 0x10) {
        error = "its index header is cut short";
        return false;
    }
    std::size_t first = le32(node.data());
    std::size_t end = le32(node.data() + 4);
    if (end > node.size() || first < 0x10 || first > end) {
        error = "its index header's offsets lie outside it";
        return false;
    }
    std::size_t at = first;
    while (true) {
        if (end - at < 0x10) {
            error = "its entries have no end mark";
            return false;
        }
        const std::byte* p = node.data() + at;
        std::size_t length = le16(p + 8);
        std::size_t key_length = le16(p + 10);
        std::uint16_t flags = le16(p + 12);
        IndexNodeEntry entry;
        entry.has_child = flags & 1;
        entry.last = flags & 2;
        std::size_t tail = entry.has_child ? 8 : 0;
        if (length < 0x10 + tail || length % 8 != 0 || length > end - at ||
            (!entry.last && key_length + 0x10 + tail > length)) {
            error = "an index entry's length is out of bounds";
            return false;
        }
        entry.reference = le64(p);
        if (!entry.last) entry.key = node.subspan(at + 0x10, key_length);
        if (entry.has_child) entry.child_vcn = le64(p + length - 8);
        out.push_back(entry);
        if (entry.last) return true;
        at += length;
    }
}

std::vector<std::string> read_index_in_block_order(
    ByteSource& source, const FolderIndex& index, const IndexGeometry& geometry,
    const std::function<void(std::uint64_t, const FileName&)>& visit) {
    Reader reader{source, index, geometry, visit, {}};
    std::vector<IndexNodeEntry> entries;
    std::vector<std::byte> block;
    if (reader.root_entries(entries))
        for (const IndexNodeEntry& entry : entries) reader.emit(entry);
    std::uint64_t blocks = reader.block_count();
    for (std::uint64_t number = 0; number < blocks; ++number) {
        if (!reader.block_in_use(number)) continue;
        entries.clear();
        if (reader.load(number, block, entries))
            for (const IndexNodeEntry& entry : entries) reader.emit(entry);
    }
    return std::move(reader.damage);
}

std::vector<std::string> read_index_in_tree_order(
    ByteSource& source, const FolderIndex& index, const IndexGeometry& geometry,
    const std::function<void(std::uint64_t, const FileName&)>& visit) {
    Reader reader{source, index, geometry, visit, {}};
    std::vector<IndexNodeEntry> entries;
    std::set<std::uint64_t> entered;
    if (reader.root_entries(entries)) reader.tree(entries, entered, 0);
    return std::move(reader.damage);
}

}  // namespace kestrafin::volume
