// An NTFS volume read from its master file table: every folder's names in
// the order the host lists them, rebuilt from the records' parent
// references, without opening a folder. Read once (read_ntfs_volume), then
// asked by folder; the reader never calls the host (its bytes come from a
// ByteSource) and trusts nothing it reads: a damaged record is an error for
// that record, a damaged volume an error for the whole, never a crash, a
// hang or a guess.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "volume/byte_source.h"

namespace kestrafin::volume {

// A file record's number in the master file table (48 bits on disk).
using RecordNumber = std::uint64_t;
inline constexpr RecordNumber kRootFolder = 5;

// The order a folder's names come in, which is the host's driver's.
enum class ListingOrder : std::uint8_t {
    // By the volume's $UpCase collation: the order of the index's tree, in
    // which Windows lists a folder.
    collation,
    // The index root's entries, then each index block's in the order of the
    // blocks: how the Linux drivers (ntfs-3g, ntfs3) list a folder.
    index_blocks,
};

struct VolumeEntry {
    std::u16string_view name;  // as NTFS keeps it; valid until the next list()
    RecordNumber record = 0;
    bool folder = false;            // the record holds a folder's index
    std::uint32_t reparse_tag = 0;  // its reparse point's tag; 0 for none
    // Its $STANDARD_INFORMATION's file attributes (FILE_ATTRIBUTE_*), of
    // which the host's listing tells offline and cloud folders; 0 when the
    // record holds none.
    std::uint32_t attributes = 0;
};

// Why a folder's names could not all be read. The names that could be are
// still listed.
struct FolderDamage {
    int error = 0;        // EIO for damage found in the volume
    std::string message;  // which record, and what is wrong with it
};

struct VolumeFigures {
    std::uint64_t records_read = 0;    // records of the table read
    std::uint64_t records_in_use = 0;  // of them, in use and whole
    std::uint64_t damaged_records = 0;
    std::uint64_t table_bytes = 0;  // the table's length, as its own runs give it
};

class VolumeTree {
  public:
    virtual ~VolumeTree() = default;

    // Lists the names of the folder `folder` into `out` (cleared first), in
    // the tree's listing order: one entry per name in the Win32 or POSIX
    // namespace (a name in both is one entry; DOS 8.3 names are left out;
    // each hard link is one entry in its own folder), and never the
    // volume's own files ($MFT, $Extend, ...) nor a deleted or reused
    // record. Returns the damage found, if any; the names read are listed
    // either way. A number that is no folder lists nothing, with damage.
    virtual std::optional<FolderDamage> list(RecordNumber folder,
                                             std::vector<VolumeEntry>& out) const = 0;

    // The folder named `name` in the folder `folder`, found as the host
    // finds it (Windows: by the $UpCase table, ignoring case; the Linux
    // drivers: the exact name first). Nothing when there is none.
    virtual std::optional<VolumeEntry> find(RecordNumber folder,
                                            std::u16string_view name) const = 0;

    // Damage found in records no folder lists (a file whose record is torn
    // has no known parent), for the scan to report; each once.
    virtual std::vector<FolderDamage> unplaced_damage() const = 0;

    virtual VolumeFigures figures() const = 0;
};

struct VolumeReadResult {
    std::unique_ptr<VolumeTree> tree;  // null when the volume cannot be read
    std::string error;                 // then why: "not an NTFS volume: ..."
};

// Reads the volume in `source`: its boot sector, the master file table's
// own runs, then the whole table in order of its runs, sequentially, with
// memory proportional to the records in use (never to a count the volume
// claims). For index_blocks order it also reads the index blocks of folders
// whose index does not fit in their record.
VolumeReadResult read_ntfs_volume(ByteSource& source, ListingOrder order);

}  // namespace kestrafin::volume
