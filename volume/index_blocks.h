// A folder's $I30 index: its root (in the folder's record) and its blocks
// (the index allocation, those in use marked in the index's bitmap). The
// entries can be read in the Linux drivers' order (the root's, then each
// block's in use, in the order of the blocks, as ntfs-3g's readdir reads
// them) or in the order of the index's tree (by collation). Every block is
// checked (signature, update sequence, its own number, every entry's
// bounds); a damaged block is reported and skipped, the rest still read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "volume/byte_source.h"
#include "volume/data_runs.h"
#include "volume/file_record.h"

namespace kestrafin::volume {

struct IndexNodeEntry {
    std::uint64_t reference = 0;     // the named record's reference
    std::span<const std::byte> key;  // a $FILE_NAME value; empty in the last entry
    bool last = false;               // the node's end mark, which carries no name
    bool has_child = false;
    std::uint64_t child_vcn = 0;
};

// The entries of one node, `node` starting at its index header (which
// gives offsets relative to itself), appended to `out`.
bool read_index_node(std::span<const std::byte> node, std::vector<IndexNodeEntry>& out,
                     std::string& error);

struct FolderIndex {
    std::span<const std::byte> root;    // the $INDEX_ROOT value
    std::span<const Run> allocation;    // the $INDEX_ALLOCATION's runs; empty for none
    std::uint64_t allocation_size = 0;  // its bytes
    std::span<const std::byte> bitmap;  // the $BITMAP's value: one bit per block
};

struct IndexGeometry {
    std::uint32_t cluster_size = 0;
    std::uint32_t block_size = 0;  // the volume's index block size
};

// Calls `visit` with each named entry's reference and $FILE_NAME, DOS
// names included, in the order the Linux drivers read them. Returns what
// could not be read, one message per damaged part.
std::vector<std::string> read_index_in_block_order(
    ByteSource& source, const FolderIndex& index, const IndexGeometry& geometry,
    const std::function<void(std::uint64_t reference, const FileName& name)>& visit);

// The same entries in the order of the index's tree: each entry after the
// node below it and before the next. A block reached twice (a loop in the
// tree) is damage, never entered again.
std::vector<std::string> read_index_in_tree_order(
    ByteSource& source, const FolderIndex& index, const IndexGeometry& geometry,
    const std::function<void(std::uint64_t reference, const FileName& name)>& visit);

}  // namespace kestrafin::volume
