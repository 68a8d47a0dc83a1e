#include "volume/file_record.h"

#include <cstring>

#include "volume/le_bytes.h"

namespace kestrafin::volume {

namespace {
constexpr std::size_t kFixupStride = 512;
constexpr std::size_t kRecordHeader = 0x30;
}  // namespace

bool apply_fixups(std::span<std::byte> block, std::string& error) {
    if (block.size() < kFixupStride || block.size() % kFixupStride != 0) {
        error = "its size is not a multiple of 512 bytes";
        return false;
    }
    std::size_t offset = le16(block.data() + 4);
    std::size_t count = le16(block.data() + 6);
    std::size_t pieces = block.size() / kFixupStride;
    if (count != pieces + 1 || offset < 8 || offset % 2 != 0 ||
        offset + 2 * count > kFixupStride - 2) {
        error = "its update sequence is out of bounds";
        return false;
    }
    const std::byte* array = block.data() + offset;
    for (std::size_t i = 0; i < pieces; ++i) {
        std::byte* tail = block.data() + (i + 1) * kFixupStride - 2;
        if (std::memcmp(tail, array, 2) != 0) {
            error = "it is torn (sector " + std::to_string(i) +
                    " does not end in its update sequence number)";
            return false;
        }
    }
    for (std::size_t i = 0; i < pieces; ++i)
        std::memcpy(block.data() + (i + 1) * kFixupStride - 2, array + 2 * (i + 1), 2);
    return true;
}

bool Attribute::named(std::u16string_view wanted) const {
    if (name.size() != 2 * wanted.size()) return false;
    for (std::size_t i = 0; i < wanted.size(); ++i)
        if (le16(name.data() + 2 * i) != wanted[i]) return false;
    return true;
}

bool has_record_signature(std::span<const std::byte> bytes) {
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "FILE", 4) == 0;
}

bool read_file_record(std::span<const std::byte> bytes, std::uint64_t number, FileRecord& out,
                      std::string& error) {
    out.attributes.clear();
    if (bytes.size() < kRecordHeader + 8 || !has_record_signature(bytes)) {
        error = "it has no FILE signature";
        return false;
    }
    const std::byte* p = bytes.data();
    out.sequence = le16(p + 0x10);
    out.flags = le16(p + 0x16);
    out.base = le64(p + 0x20);
    std::size_t first = le16(p + 0x14);
    std::size_t in_use = le32(p + 0x18);
    if (in_use > bytes.size() || first < kRecordHeader || first + 4 > in_use || first % 8 != 0) {
        error = "its header's offsets lie outside it";
        return false;
    }
    // Records since NTFS 3.1 name their own number; one that names another
    // lies in the wrong place.
    if (le16(p + 4) >= kRecordHeader && le32(p + 0x2C) != static_cast<std::uint32_t>(number)) {
        error = "it names itself record " + std::to_string(le32(p + 0x2C));
        return false;
    }
    std::size_t at = first;
    while (true) {
        if (at + 4 > in_use) {
            error = "its attributes run past its bytes in use";
            return false;
        }
        std::uint32_t type = le32(p + at);
        if (type == kEndOfAttributes) return true;
        if (at + 0x18 > in_use) {
            error = "an attribute's header runs past its bytes in use";
            return false;
        }
        std::size_t length = le32(p + at + 4);
        if (length < 0x18 || length % 8 != 0 || length > in_use - at) {
            error = "an attribute's length (" + std::to_string(length) + ") is out of bounds";
            return false;
        }
        const std::byte* a = p + at;
        Attribute attr;
        attr.type = type;
        attr.id = le16(a + 0x0E);
        std::size_t name_length = std::to_integer<std::size_t>(a[9]);
        std::size_t name_offset = le16(a + 0x0A);
        if (name_length != 0) {
            if (name_offset + 2 * name_length > length) {
                error = "an attribute's name lies outside it";
                return false;
            }
            attr.name = bytes.subspan(at + name_offset, 2 * name_length);
        }
        attr.resident = std::to_integer<unsigned>(a[8]) == 0;
        if (attr.resident) {
            std::size_t value_length = le32(a + 0x10);
            std::size_t value_offset = le16(a + 0x14);
            if (value_offset > length || value_length > length - value_offset) {
                error = "an attribute's value lies outside it";
                return false;
            }
            attr.value = bytes.subspan(at + value_offset, value_length);
        } else {
            if (length < 0x40) {
                error = "a non-resident attribute's header is cut short";
                return false;
            }
            attr.lowest_vcn = le64(a + 0x10);
            attr.highest_vcn = le64(a + 0x18);
            std::size_t runs_offset = le16(a + 0x20);
            attr.data_size = le64(a + 0x30);
            attr.initialized_size = le64(a + 0x38);
            if (runs_offset < 0x40 || runs_offset > length ||
                attr.highest_vcn + 1 < attr.lowest_vcn) {
                error = "a non-resident attribute's runs lie outside it";
                return false;
            }
            attr.runs = bytes.subspan(at + runs_offset, length - runs_offset);
        }
        out.attributes.push_back(attr);
        at += length;
    }
}

bool read_file_name(std::span<const std::byte> value, FileName& out, std::string& error) {
    if (value.size() < 0x42) {
        error = "a file name is cut short";
        return false;
    }
    const std::byte* p = value.data();
    out.parent = le64(p);
    out.attributes = le32(p + 0x38);
    std::size_t length = std::to_integer<std::size_t>(p[0x40]);
    out.name_space = std::to_integer<std::uint8_t>(p[0x41]);
    if (length == 0 || 0x42 + 2 * length > value.size()) {
        error = "a file name's length (" + std::to_string(length) + ") is out of bounds";
        return false;
    }
    if (out.name_space > kWin32AndDosNamespace) {
        error = "a file name has no known namespace (" + std::to_string(out.name_space) + ")";
        return false;
    }
    out.name = value.subspan(0x42, 2 * length);
    return true;
}

bool read_attribute_list(std::span<const std::byte> value, std::vector<AttributeListEntry>& out,
                         std::string& error) {
    std::size_t at = 0;
    while (at < value.size()) {
        if (value.size() - at < 0x1A) {
            error = "its attribute list ends inside an entry";
            return false;
        }
        const std::byte* p = value.data() + at;
        std::size_t length = le16(p + 4);
        std::size_t name_length = std::to_integer<std::size_t>(p[6]);
        std::size_t name_offset = std::to_integer<std::size_t>(p[7]);
        if (length < 0x1A || length > value.size() - at ||
            (name_length != 0 && name_offset + 2 * name_length > length)) {
            error = "an entry of its attribute list is out of bounds";
            return false;
        }
        AttributeListEntry entry;
        entry.type = le32(p);
        entry.lowest_vcn = le64(p + 8);
        entry.record = le64(p + 0x10);
        entry.id = le16(p + 0x18);
        if (name_length != 0) entry.name = value.subspan(at + name_offset, 2 * name_length);
        out.push_back(entry);
        at += length;
    }
    return true;
}

}  // namespace kestrafin::volume
