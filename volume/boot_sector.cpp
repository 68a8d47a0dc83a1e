#include "volume/boot_sector.h"

#include <bit>
#include <cstring>

#include "volume/le_bytes.h"

namespace kestrafin::volume {

namespace {

// Clusters per record (or per index block): a positive count, or a negative
// n meaning 2^-n bytes, the form used when a record is smaller than a cluster.
std::uint64_t size_from_cluster_field(std::byte field, std::uint32_t cluster_size) {
    auto value = static_cast<std::int8_t>(std::to_integer<std::uint8_t>(field));
    if (value > 0) return static_cast<std::uint64_t>(value) * cluster_size;
    if (value < -31 || value == 0) return 0;
    return std::uint64_t{1} << -value;
}

std::string hex_bytes(std::span<const std::byte> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::byte b : bytes) {
        auto v = std::to_integer<unsigned>(b);
        text += digits[v >> 4];
        text += digits[v & 15];
    }
    return text;
}

}  // namespace

std::optional<BootSector> read_boot_sector(std::span<const std::byte> bytes, std::string& error) {
    if (bytes.size() < kBootSectorSize) {
        error = "not an NTFS volume: it is shorter than a boot sector";
        return std::nullopt;
    }
    const std::byte* p = bytes.data();
    if (std::memcmp(p + 3, "NTFS    ", 8) != 0) {
        error = "not an NTFS volume: the boot sector's signature is " +
                hex_bytes(bytes.subspan(3, 8)) + ", not NTFS's";
        return std::nullopt;
    }
    if (le16(p + 510) != 0xAA55) {
        error = "not an NTFS volume: the boot sector does not end in 55 aa";
        return std::nullopt;
    }
    BootSector boot;
    boot.sector_size = le16(p + 0x0B);
    if (boot.sector_size < 256 || boot.sector_size > 4096 ||
        !std::has_single_bit(boot.sector_size)) {
        error = "damaged NTFS volume: the boot sector gives " + std::to_string(boot.sector_size) +
                " bytes per sector";
        return std::nullopt;
    }
    unsigned per_cluster = std::to_integer<unsigned>(p[0x0D]);
    std::uint64_t sectors_per_cluster =
        per_cluster <= 0x80
            ? per_cluster
            : (256 - per_cluster <= 24 ? std::uint64_t{1} << (256 - per_cluster) : 0);
    std::uint64_t cluster_size = sectors_per_cluster * boot.sector_size;
    if (sectors_per_cluster == 0 || !std::has_single_bit(sectors_per_cluster) ||
        cluster_size > (std::uint64_t{1} << 21)) {
        error = "damaged NTFS volume: the boot sector gives a cluster of " +
                std::to_string(per_cluster) + " (encoded) sectors";
        return std::nullopt;
    }
    boot.cluster_size = static_cast<std::uint32_t>(cluster_size);
    std::uint64_t sectors = le64(p + 0x28);
    if (sectors == 0 || sectors > UINT64_MAX / boot.sector_size) {
        error =
            "damaged NTFS volume: the boot sector gives " + std::to_string(sectors) + " sectors";
        return std::nullopt;
    }
    boot.volume_size = sectors * boot.sector_size;
    boot.cluster_count = boot.volume_size / boot.cluster_size;
    boot.table_cluster = le64(p + 0x30);
    if (boot.table_cluster == 0 || boot.table_cluster >= boot.cluster_count) {
        error = "damaged NTFS volume: the master file table's first cluster, " +
                std::to_string(boot.table_cluster) + ", lies outside the volume's " +
                std::to_string(boot.cluster_count) + " clusters";
        return std::nullopt;
    }
    // Fixups stride 512 bytes, so a record or block is a multiple of that.
    std::uint64_t record = size_from_cluster_field(p[0x40], boot.cluster_size);
    if (record < 512 || record > 65536 || !std::has_single_bit(record)) {
        error = "damaged NTFS volume: the boot sector gives table records of " +
                std::to_string(record) + " bytes";
        return std::nullopt;
    }
    boot.record_size = static_cast<std::uint32_t>(record);
    std::uint64_t block = size_from_cluster_field(p[0x44], boot.cluster_size);
    if (block < 512 || block > 65536 || !std::has_single_bit(block)) {
        error = "damaged NTFS volume: the boot sector gives index blocks of " +
                std::to_string(block) + " bytes";
        return std::nullopt;
    }
    boot.index_block_size = static_cast<std::uint32_t>(block);
    return boot;
}

}  // namespace kestrafin::volume
