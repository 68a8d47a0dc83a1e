// The volume's structures over crafted bytes: what each decoder takes, and
// that every out-of-range field is refused rather than read.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "volume/boot_sector.h"
#include "volume/data_runs.h"
#include "volume/file_record.h"

namespace kestrafin::volume {
namespace {

std::vector<std::byte> bytes(std::initializer_list<unsigned> values) {
    std::vector<std::byte> out;
    for (unsigned v : values) out.push_back(static_cast<std::byte>(v));
    return out;
}
void put16(std::vector<std::byte>& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::byte>(v & 0xFF);
    b[at + 1] = static_cast<std::byte>(v >> 8);
}
unsigned le16_at(const std::vector<std::byte>& b, std::size_t at) {
    return std::to_integer<unsigned>(b[at]) | (std::to_integer<unsigned>(b[at + 1]) << 8);
}
void put32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::vector<std::byte> boot_sector() {
    std::vector<std::byte> b(512);
    std::memcpy(b.data() + 3, "NTFS    ", 8);
    put16(b, 0x0B, 512);
    b[0x0D] = std::byte{8};
    put32(b, 0x28, 131072);  // 64 MiB
    put32(b, 0x30, 4);
    b[0x40] = std::byte{0xF6};  // 2^10 bytes per record
    b[0x44] = std::byte{0xF4};  // 2^12 bytes per index block
    put16(b, 510, 0xAA55);
    return b;
}

TEST(BootSector, FieldsAreRangeChecked) {
    struct Case {
        std::size_t at;
        unsigned value;
        const char* refused;  // part of the error, or null
    } cases[] = {
        {0x40, 0xF6, nullptr},       // 2^-n: 1,024-byte records
        {0x40, 0x01, nullptr},       // one 4 KiB cluster
        {0x0D, 0xF4, nullptr},       // 2^12 sectors per cluster, 2 MiB
        {0x0D, 0xF3, "cluster"},     // 4 MiB clusters
        {0x0D, 3, "cluster"},        // not a power of two
        {0x0B, 0x01, "per sector"},  // 257-byte sectors
        {0x40, 0xF8, "records"},     // 256-byte records: shorter than a fixup stride
        {0x40, 0x80, "records"},     // 2^128
        {0x44, 0x00, "index blocks"}, {0x30, 0x00, "first cluster"},
        {3, 'F', "signature"},        {510, 0, "55 aa"},
    };
    for (const Case& c : cases) {
        auto b = boot_sector();
        b[c.at] = static_cast<std::byte>(c.value);
        std::string error;
        auto boot = read_boot_sector(b, error);
        EXPECT_EQ(boot.has_value(), c.refused == nullptr) << c.at << " " << error;
        if (c.refused) {
            EXPECT_NE(error.find(c.refused), std::string::npos) << error;
        }
    }
    std::string error;
    auto boot = read_boot_sector(boot_sector(), error);
    ASSERT_TRUE(boot);
    EXPECT_EQ(boot->cluster_size, 4096u);
    EXPECT_EQ(boot->cluster_count, 16384u);
    EXPECT_EQ(boot->record_size, 1024u);
    EXPECT_EQ(boot->index_block_size, 4096u);
}

TEST(DataRuns, DecodeSparseNegativeAndRefuseWhatLiesOutside) {
    struct Case {
        std::vector<std::byte> pairs;
        std::vector<volume::Run> runs;  // when decoded
        const char* refused;
    } cases[] = {
        {bytes({0x21, 0x10, 0x00, 0x01, 0x00}), {{0, 16, 256, false}}, nullptr},
        // The second run starts 0x20 clusters before the first: a signed offset.
        {bytes({0x11, 0x04, 0x40, 0x11, 0x02, 0xE0, 0x00}),
         {{0, 4, 64, false}, {4, 2, 32, false}},
         nullptr},
        {bytes({0x11, 0x04, 0x40, 0x01, 0x08, 0x11, 0x01, 0x01, 0x00}),
         {{0, 4, 64, false}, {4, 8, 0, true}, {12, 1, 65, false}},
         nullptr},
        {bytes({0x11, 0x04, 0x80, 0x00}), {}, "past the volume's end"},        // lcn -128
        {bytes({0x21, 0x10, 0xF8, 0x03, 0x00}), {}, "past the volume's end"},  // 1016 + 16 > 1024
        {bytes({0x11, 0x04, 0x40}), {}, "no end mark"},
        {bytes({0x31, 0x04, 0x40}), {}, "past the end of their attribute"},
        {bytes({0x19, 0x04}), {}, "more than 8 bytes"},
        {bytes({0x10, 0x04, 0x00}), {}, "more than 8 bytes"},  // a length of no bytes
        {bytes({0x11, 0x00, 0x40, 0x00}), {}, "length"},
    };
    for (const Case& c : cases) {
        std::vector<volume::Run> runs;
        std::string error;
        bool ok = decode_runs(c.pairs, 0, 1024, runs, error);
        EXPECT_EQ(ok, c.refused == nullptr) << error;
        if (c.refused) {
            EXPECT_NE(error.find(c.refused), std::string::npos) << error;
            continue;
        }
        ASSERT_EQ(runs.size(), c.runs.size());
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].vcn, c.runs[i].vcn);
            EXPECT_EQ(runs[i].length, c.runs[i].length);
            EXPECT_EQ(runs[i].sparse, c.runs[i].sparse);
            if (!runs[i].sparse) {
                EXPECT_EQ(runs[i].lcn, c.runs[i].lcn);
            }
        }
    }
}

// A 1,024-byte record: its update sequence at 0x30, one attribute at 0x38.
std::vector<std::byte> record() {
    std::vector<std::byte> r(1024);
    std::memcpy(r.data(), "FILE", 4);
    put16(r, 4, 0x30);
    put16(r, 6, 3);
    put16(r, 0x30, 0x0707);
    put16(r, 0x32, 0x1111);
    put16(r, 0x34, 0x2222);
    put16(r, 510, 0x0707);
    put16(r, 1022, 0x0707);
    put16(r, 0x10, 9);
    put16(r, 0x14, 0x38);
    put16(r, 0x16, kRecordInUse);
    put32(r, 0x18, 0x38 + 0x20 + 8);
    put32(r, 0x2C, 42);
    put32(r, 0x38, kStandardInformation);
    put32(r, 0x3C, 0x20);
    put32(r, 0x48, 8);     // value length
    put16(r, 0x4C, 0x18);  // value offset
    put32(r, 0x58, kEndOfAttributes);
    return r;
}

TEST(FileRecord, FixupsAndEveryAttributeBoundAreChecked) {
    struct Case {
        const char* what;
        std::size_t at;
        unsigned value;
        bool sixteen;
        const char* refused;
    } cases[] = {
        {"whole", 0, 'F', false, nullptr},
        {"a torn second sector", 1022, 0x0708, true, "torn"},
        {"a torn first sector", 510, 0, true, "torn"},
        {"an update sequence of the wrong count", 6, 2, true, "update sequence"},
        {"an update sequence past the first sector", 4, 508, true, "update sequence"},
        {"another record's number", 0x2C, 41, true, "names itself record 41"},
        {"bytes in use past the record", 0x18, 1025, true, "header"},
        {"an attribute longer than the bytes in use", 0x3C, 0x30, true, "length"},
        {"an attribute of no length", 0x3C, 0, true, "length"},
        {"a value past its attribute", 0x48, 9, true, "value"},
        {"a name past its attribute", 0x41, 8, false, "name"},
        {"no end of attributes", 0x58, 0x30, true, "header runs past"},
        {"another signature", 0, 'B', false, "FILE"},
    };
    for (const Case& c : cases) {
        auto r = record();
        if (c.sixteen)
            put16(r, c.at, c.value);
        else
            r[c.at] = static_cast<std::byte>(c.value);
        if (c.at == 0x41) put16(r, 0x42, 0x18);
        std::string error;
        FileRecord out;
        bool ok = apply_fixups(r, error) && read_file_record(r, 42, out, error);
        EXPECT_EQ(ok, c.refused == nullptr) << c.what << ": " << error;
        if (c.refused) {
            EXPECT_NE(error.find(c.refused), std::string::npos) << c.what << ": " << error;
            continue;
        }
        EXPECT_EQ(le16_at(r, 510), 0x1111u);
        EXPECT_EQ(le16_at(r, 1022), 0x2222u);
        ASSERT_EQ(out.attributes.size(), 1u);
        EXPECT_EQ(out.attributes[0].value.size(), 8u);
        EXPECT_EQ(out.sequence, 9);
    }
}

}  // namespace
}  // namespace kestrafin::volume
