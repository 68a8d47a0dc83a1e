// One record of the master file table, and the attributes it holds. The
// record's bytes are checked before anything is taken from them: its
// update sequence (a record or index block written only in part is torn,
// an error, never read), then every attribute's length and offsets against
// the bytes in use. Values are views into the record's own bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrafin::volume {

// Checks and undoes the update sequence of a record or index block in
// place: the last two bytes of every 512 are the sequence's number, and
// the array at the header's offset keeps what they replaced. False, with
// `error`, when the array is out of bounds or a 512-byte piece does not end
// in the number (the block was torn while it was written).
bool apply_fixups(std::span<std::byte> block, std::string& error);

enum AttributeType : std::uint32_t {
    kStandardInformation = 0x10,
    kAttributeList = 0x20,
    kFileName = 0x30,
    kData = 0x80,
    kIndexRoot = 0x90,
    kIndexAllocation = 0xA0,
    kBitmap = 0xB0,
    kReparsePoint = 0xC0,
    kEndOfAttributes = 0xFFFFFFFF,
};

struct Attribute {
    std::uint32_t type = 0;
    std::uint16_t id = 0;
    std::span<const std::byte> name;  // UTF-16LE; empty for the unnamed one
    bool resident = true;
    std::span<const std::byte> value;  // resident only
    // Non-resident only:
    std::span<const std::byte> runs;  // the mapping pairs
    std::uint64_t lowest_vcn = 0;
    std::uint64_t highest_vcn = 0;
    std::uint64_t data_size = 0;         // valid in the piece at vcn 0 only
    std::uint64_t initialized_size = 0;  // likewise

    bool named(std::u16string_view wanted) const;
};

inline constexpr std::uint16_t kRecordInUse = 1;
inline constexpr std::uint16_t kRecordIsFolder = 2;

struct FileRecord {
    std::uint16_t sequence = 0;
    std::uint16_t flags = 0;
    std::uint64_t base = 0;             // the base record's reference; 0 in a base record
    std::vector<Attribute> attributes;  // kept from call to call: no allocation per record

    bool in_use() const { return flags & kRecordInUse; }
    bool folder() const { return flags & kRecordIsFolder; }
};

// Reads the record in `bytes` (whose update sequence is already undone)
// into `out`. `number` is the record's place in the table, checked against
// the number the record gives itself. False, with `error`, when a field
// lies outside the record.
bool read_file_record(std::span<const std::byte> bytes, std::uint64_t number, FileRecord& out,
                      std::string& error);

// Whether `bytes` start with a record's "FILE" signature.
bool has_record_signature(std::span<const std::byte> bytes);

inline constexpr std::uint8_t kPosixNamespace = 0;
inline constexpr std::uint8_t kWin32Namespace = 1;
inline constexpr std::uint8_t kDosNamespace = 2;
inline constexpr std::uint8_t kWin32AndDosNamespace = 3;

struct FileName {
    std::uint64_t parent = 0;  // the folder's reference
    std::uint32_t attributes = 0;
    std::uint8_t name_space = 0;
    std::span<const std::byte> name;  // UTF-16LE, 1 to 255 units
};

// A $FILE_NAME value, whether an attribute's or an index entry's key.
bool read_file_name(std::span<const std::byte> value, FileName& out, std::string& error);

struct AttributeListEntry {
    std::uint32_t type = 0;
    std::uint64_t lowest_vcn = 0;
    std::uint64_t record = 0;  // the reference of the record holding the attribute
    std::uint16_t id = 0;
    std::span<const std::byte> name;
};

// The entries of an $ATTRIBUTE_LIST value, appended to `out`.
bool read_attribute_list(std::span<const std::byte> value, std::vector<AttributeListEntry>& out,
                         std::string& error);

}  // namespace kestrafin::volume
