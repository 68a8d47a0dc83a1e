// The NTFS boot sector: the volume's geometry and where its master file
// table starts. Every field is range-checked; the reader refuses what no
// NTFS volume holds rather than guess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrafin::volume {

struct BootSector {
    std::uint32_t sector_size = 0;   // bytes
    std::uint32_t cluster_size = 0;  // bytes
    std::uint64_t cluster_count = 0;
    std::uint64_t volume_size = 0;    // bytes, by the sector count
    std::uint64_t table_cluster = 0;  // the first cluster of $MFT
    std::uint32_t record_size = 0;    // bytes of one table record
    std::uint32_t index_block_size = 0;
};

inline constexpr std::size_t kBootSectorSize = 512;

// Reads the boot sector in `bytes` (its first 512 bytes). Nothing, with
// `error` saying why, for a sector that is not NTFS's or holds a field out
// of range.
std::optional<BootSector> read_boot_sector(std::span<const std::byte> bytes, std::string& error);

}  // namespace kestrafin::volume
