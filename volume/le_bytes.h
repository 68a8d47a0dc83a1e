// Little-endian fields of the volume's structures. Callers check that the
// bytes lie inside what was read before they call these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrafin::volume {

inline std::uint16_t le16(const std::byte* p) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(p[0]) |
                                      (std::to_integer<unsigned>(p[1]) << 8));
}
inline std::uint32_t le32(const std::byte* p) {
    return static_cast<std::uint32_t>(le16(p)) | (static_cast<std::uint32_t>(le16(p + 2)) << 16);
}
inline std::uint64_t le64(const std::byte* p) {
    return static_cast<std::uint64_t>(le32(p)) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}

// A file reference: the record number in its low 48 bits, the record's
// sequence number in its high 16.
inline std::uint64_t reference_record(std::uint64_t reference) {
    return reference & 0xFFFF'FFFF'FFFFull;
}
inline std::uint16_t reference_sequence(std::uint64_t reference) {
    return static_cast<std::uint16_t>(reference >> 48);
}

}  // namespace kestrafin::volume
