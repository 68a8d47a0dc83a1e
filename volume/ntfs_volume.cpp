// The table is read once, in order of its runs, in large chunks; of each
// record only what listing needs is kept, in flat arrays (names in one
// arena), so that memory grows with the records read and nothing is
// allocated per record. Folders are then rebuilt from the names' parent
// references (collation order) or from each folder's own index, cross-
// checked against the table (block order).
//
// list() is per folder and never follows a reference, so nothing here can
// loop on a damaged volume; a folder listed under two parents, or under a
// folder below itself, shows only in a caller's descent, and only on a
// damaged volume. Parent references that form a loop are reported by
// unplaced_damage(), since no folder reachable from the root lists them.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <future>
#include <limits>
#include <memory>
#include <mutex>

#include "volume/boot_sector.h"
#include "volume/data_runs.h"
#include "volume/file_record.h"
#include "volume/index_blocks.h"
#include "volume/le_bytes.h"
#include "volume/ntfs_volume.h"
#include "volume/upcase.h"
#include "volume/volume_tree.h"

namespace kestrafin::volume {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr RecordNumber kUpcaseRecord = 10;
constexpr RecordNumber kFirstUserRecord = 16;
constexpr std::uint64_t kLargestAttributeList = 256 * 1024;
constexpr std::uint64_t kLargestUpcase = 2 * 65536;
constexpr std::uint64_t kLargestReparseData = 16 * 1024;

const std::u16string_view kIndexName = u"$I30";

enum class State : std::uint8_t { free, base, extension, damaged };

struct Record {
    std::uint16_t sequence = 0;
    State state = State::free;
    bool folder = false;
    bool placed = false;  // its damage is reported by a folder's listing
    std::uint32_t reparse_tag = 0;
    std::uint32_t attributes = 0;  // $STANDARD_INFORMATION's
    std::uint32_t first_name = 0;  // its names, once sorted by owner
    std::uint32_t name_count = 0;
    std::uint32_t first_child = 0;  // its listing, for a folder
    std::uint32_t child_count = 0;
};

struct Name {
    std::uint64_t owner = 0;   // the base record's reference
    std::uint64_t parent = 0;  // the folder's reference
    std::uint32_t text = 0;    // where its units start in the arena
    std::uint8_t length = 0;
    std::uint8_t name_space = 0;
};

enum class PartKind : std::uint8_t { root, allocation, bitmap };

// A piece of a folder's $I30 index, kept until the folders are rebuilt.
struct IndexPart {
    std::uint64_t owner = 0;
    PartKind kind = PartKind::root;
    bool resident = true;
    std::uint64_t lowest_vcn = 0;
    std::uint64_t size = 0;
    std::uint32_t begin = 0;  // into part_bytes (resident) or part_runs
    std::uint32_t count = 0;
};

struct Pending {  // a reparse tag held in an extension record
    std::uint64_t owner = 0;
    std::uint32_t tag = 0;
};

std::string describe(int err) {
    return std::strerror(err);
}

bool units_equal(std::span<const std::byte> le_units, std::u16string_view name) {
    if (le_units.size() != 2 * name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (le16(le_units.data() + 2 * i) != name[i]) return false;
    return true;
}

// Names' units, in blocks that never move: growing never copies what is
// kept, nor holds twice its size for a moment. A name lies in one block.
class NameArena {
  public:
    // Blocks of `units` (a power of two, 256 or more), set before the first name.
    void size_blocks(std::size_t units) { block_ = units; }
    std::size_t size() const { return end_; }
    std::uint32_t add(std::span<const std::byte> le_units) {
        std::size_t units = le_units.size() / 2;
        if (end_ == blocks_.size() * block_ || end_ % block_ + units > block_) {
            end_ = blocks_.size() * block_;
            blocks_.push_back(std::make_unique_for_overwrite<char16_t[]>(block_));
        }
        char16_t* at = blocks_.back().get() + end_ % block_;
        for (std::size_t i = 0; i < units; ++i)
            at[i] = static_cast<char16_t>(le16(le_units.data() + 2 * i));
        auto start = static_cast<std::uint32_t>(end_);
        end_ += units;
        return start;
    }
    std::u16string_view view(std::uint32_t at, std::size_t length) const {
        return {blocks_[at / block_].get() + at % block_, length};
    }
    // Forgets what was added since size() was `mark`.
    void cut(std::size_t mark) {
        end_ = mark;
        blocks_.resize((mark + block_ - 1) / block_);
    }

  private:
    std::size_t block_ = std::size_t{1} << 20;
    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    std::size_t end_ = 0;
};

// The table's next chunk is read while this one is parsed; the few other
// reads made meanwhile wait their turn, so the source sees one at a time.
class SerialSource final : public ByteSource {
  public:
    explicit SerialSource(ByteSource& inner) : inner_(inner) {}
    std::uint64_t size() const override { return inner_.size(); }
    int read(std::uint64_t offset, std::span<std::byte> out) override {
        std::lock_guard lock(mutex_);
        return inner_.read(offset, out);
    }

  private:
    ByteSource& inner_;
    std::mutex mutex_;
};

class NtfsTree final : public VolumeTree {
  public:
    NtfsTree(ByteSource& source, ListingOrder order, bool index_tree)
        : source_(source), order_(order), index_tree_(index_tree) {}

    std::string read();

    std::optional<FolderDamage> list(RecordNumber folder,
                                     std::vector<VolumeEntry>& out) const override;
    std::optional<VolumeEntry> find(RecordNumber folder, std::u16string_view name) const override;
    std::vector<FolderDamage> unplaced_damage() const override { return unplaced_; }
    VolumeFigures figures() const override { return figures_; }

  private:
    std::string read_table_runs();
    std::string past_source(std::span<const Run> runs, std::size_t first) const;
    std::string read_table();
    void take_record(RecordNumber number, std::span<std::byte> bytes);
    void take_attributes(RecordNumber number, std::uint64_t owner);
    void damage(RecordNumber number, std::string why);
    std::string read_upcase();
    void sort_names();
    void list_by_collation();
    void list_by_index();
    void list_folder_index(RecordNumber folder, std::span<const IndexPart> parts);
    void find_parent_loops();

    std::u16string_view text(const Name& name) const { return arena_.view(name.text, name.length); }
    const Record* whole(std::uint64_t reference) const {
        RecordNumber number = reference_record(reference);
        if (number >= records_.size()) return nullptr;
        const Record& record = records_[number];
        if (record.state != State::base || record.sequence != reference_sequence(reference))
            return nullptr;
        return &record;
    }
    bool hidden(RecordNumber owner, RecordNumber folder) const {
        return (owner < kFirstUserRecord && owner != kRootFolder) || owner == folder;
    }
    VolumeEntry entry(std::uint32_t name_index) const {
        const Name& name = names_[name_index];
        RecordNumber number = reference_record(name.owner);
        const Record& record = records_[number];
        return {text(name), number, record.folder, record.reparse_tag, record.attributes};
    }

    SerialSource source_;
    ListingOrder order_;
    bool index_tree_;  // folders listed by a walk of their index's tree
    BootSector boot_;
    std::vector<Run> table_runs_;
    std::uint64_t source_clusters_ = 0;
    std::uint64_t initialized_ = 0;  // the table's bytes written so far
    bool too_large_ = false;
    std::vector<Run> upcase_runs_;
    std::uint64_t upcase_size_ = 0;
    std::optional<Upcase> upcase_;

    FileRecord scratch_;
    std::vector<Record> records_;
    std::vector<Name> names_;
    NameArena arena_;
    std::vector<std::uint32_t> listing_;
    std::vector<Pending> pending_tags_;
    std::vector<IndexPart> parts_;
    std::vector<std::byte> part_bytes_;
    std::vector<Run> part_runs_;
    std::vector<std::pair<RecordNumber, std::string>> record_damage_;
    std::vector<std::pair<RecordNumber, std::string>> folder_damage_;
    std::vector<FolderDamage> unplaced_;
    VolumeFigures figures_;
};

std::string NtfsTree::read() {
    std::vector<std::byte> sector(kBootSectorSize);
    if (int err = source_.read(0, sector); err != 0)
        return "cannot read the volume's boot sector: " + describe(err);
    std::string error;
    auto boot = read_boot_sector(sector, error);
    if (!boot) return error;
    boot_ = *boot;
    // Only clusters the source holds can be read: this bounds every run,
    // and so every size taken from the volume, by the source's length.
    source_clusters_ = boot_.cluster_count;
    if (std::uint64_t size = source_.size(); size != 0)
        source_clusters_ = std::min(source_clusters_, size / boot_.cluster_size);
    if (error = read_table_runs(); !error.empty()) return error;
    if (error = read_table(); !error.empty()) return error;
    if (records_.size() <= kRootFolder || records_[kRootFolder].state != State::base ||
        !records_[kRootFolder].folder)
        return "damaged NTFS volume: the root folder's record (5) is not a whole folder";
    sort_names();
    if (order_ == ListingOrder::collation && !index_tree_) {
        if (error = read_upcase(); !error.empty()) return error;
        list_by_collation();
    } else {
        // ntfs-3g looks names up exactly, so this order needs no $UpCase.
        list_by_index();
    }
    find_parent_loops();
    std::stable_sort(folder_damage_.begin(), folder_damage_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [number, why] : record_damage_)
        if (!records_[number].placed) unplaced_.push_back({EIO, std::move(why)});
    record_damage_.clear();
    parts_ = {};
    part_bytes_ = {};
    part_runs_ = {};
    return {};
}

// Why runs of the table, from `first` on, cannot be read: they lie inside
// the volume, but past the end of a source cut short. Empty when they can.
std::string NtfsTree::past_source(std::span<const Run> runs, std::size_t first) const {
    for (const Run& run : runs.subspan(first))
        if (!run.sparse && run.lcn + run.length > source_clusters_)
            return "the source is shorter than its NTFS volume: it ends at byte " +
                   std::to_string(source_.size()) +
                   ", before the master file table's run at cluster " + std::to_string(run.lcn);
    return {};
}

std::string NtfsTree::read_table_runs() {
    const std::string prefix = "damaged NTFS volume: the master file table's ";
    std::vector<std::byte> first(boot_.record_size);
    std::uint64_t offset = boot_.table_cluster * boot_.cluster_size;
    if (boot_.table_cluster >= source_clusters_ ||
        first.size() > (source_clusters_ - boot_.table_cluster) * boot_.cluster_size)
        return prefix + "first record lies past the volume's end";
    if (int err = source_.read(offset, first); err != 0)
        return "cannot read the master file table's first record: " + describe(err);
    std::string why;
    if (!has_record_signature(first) || !apply_fixups(first, why) ||
        !read_file_record(first, 0, scratch_, why))
        return prefix +
               "own record (0) is damaged: " + (why.empty() ? "it has no FILE signature" : why);
    if (!scratch_.in_use()) return prefix + "own record (0) is not in use";
    std::uint16_t own_sequence = scratch_.sequence;

    // Where each piece of $MFT's data lies: in record 0, or in extension
    // records that the pieces before them must map.
    struct Piece {
        std::uint64_t lowest_vcn;
        std::uint64_t record;
    };
    std::vector<Piece> pieces;
    std::vector<std::byte> list_bytes;
    for (const Attribute& attr : scratch_.attributes) {
        if (attr.type != kAttributeList) continue;
        std::span<const std::byte> value = attr.value;
        if (!attr.resident) {
            std::vector<Run> runs;
            if (attr.lowest_vcn != 0 || !decode_runs(attr.runs, 0, boot_.cluster_count, runs, why))
                return prefix + "attribute list's runs are damaged: " + why;
            if (std::string short_source = past_source(runs, 0); !short_source.empty())
                return short_source;
            if (attr.data_size > kLargestAttributeList ||
                attr.data_size > mapped_clusters(runs) * boot_.cluster_size)
                return prefix + "attribute list claims " + std::to_string(attr.data_size) +
                       " bytes";
            list_bytes.resize(attr.data_size);
            if (int err = read_through_runs(source_, runs, boot_.cluster_size, 0, list_bytes);
                err != 0)
                return "cannot read the master file table's attribute list: " + describe(err);
            value = list_bytes;
        }
        std::vector<AttributeListEntry> entries;
        if (!read_attribute_list(value, entries, why)) return prefix + "record 0: " + why;
        for (const AttributeListEntry& e : entries)
            if (e.type == kData && e.name.empty())
                pieces.push_back({e.lowest_vcn, reference_record(e.record)});
        break;
    }
    if (pieces.empty()) pieces.push_back({0, 0});
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.lowest_vcn < b.lowest_vcn; });

    std::uint64_t table_bytes = 0;
    std::vector<std::byte> extension(boot_.record_size);
    for (const Piece& piece : pieces) {
        std::uint64_t mapped = mapped_clusters(table_runs_);
        if (piece.lowest_vcn != mapped)
            return prefix + "runs leave a gap at cluster " + std::to_string(mapped);
        FileRecord* holder = &scratch_;
        FileRecord other;
        if (piece.record != 0) {
            // An extension record lies in the table itself, so the runs read
            // so far must reach it; one that would map itself is a circle.
            std::uint64_t at = piece.record * boot_.record_size;
            if (at / boot_.record_size != piece.record ||
                at + boot_.record_size > mapped * boot_.cluster_size)
                return prefix + "runs are held in record " + std::to_string(piece.record) +
                       ", which lies past what the runs before it map";
            if (int err =
                    read_through_runs(source_, table_runs_, boot_.cluster_size, at, extension);
                err != 0)
                return "cannot read the master file table's record " +
                       std::to_string(piece.record) + ": " + describe(err);
            if (!has_record_signature(extension) || !apply_fixups(extension, why) ||
                !read_file_record(extension, piece.record, other, why))
                return prefix + "record " + std::to_string(piece.record) +
                       " is damaged: " + (why.empty() ? "it has no FILE signature" : why);
            if (!other.in_use() || reference_record(other.base) != 0 ||
                reference_sequence(other.base) != own_sequence)
                return prefix + "record " + std::to_string(piece.record) +
                       " is not an extension of record 0";
            holder = &other;
        }
        const Attribute* data = nullptr;
        for (const Attribute& attr : holder->attributes)
            if (attr.type == kData && attr.name.empty() && !attr.resident &&
                attr.lowest_vcn == piece.lowest_vcn)
                data = &attr;
        if (data == nullptr)
            return prefix + "data at cluster " + std::to_string(piece.lowest_vcn) +
                   " is missing from record " + std::to_string(piece.record);
        if (piece.lowest_vcn == 0) {
            table_bytes = data->data_size;
            initialized_ = std::min(data->initialized_size, data->data_size);
        }
        std::size_t before = table_runs_.size();
        if (!decode_runs(data->runs, piece.lowest_vcn, boot_.cluster_count, table_runs_, why))
            return prefix + "runs are damaged: " + why;
        for (std::size_t i = before; i < table_runs_.size(); ++i)
            if (table_runs_[i].sparse)
                return prefix + "runs have a hole at cluster " + std::to_string(table_runs_[i].vcn);
        if (std::string short_source = past_source(table_runs_, before); !short_source.empty())
            return short_source;
        if (data->highest_vcn + 1 != mapped_clusters(table_runs_) && table_runs_.size() > before)
            return prefix + "runs do not end where their attribute says";
    }
    std::uint64_t mapped = mapped_clusters(table_runs_) * boot_.cluster_size;
    if (table_bytes < boot_.record_size * (kRootFolder + 1) || table_bytes > mapped)
        return prefix + "runs map " + std::to_string(mapped) + " bytes, but it claims " +
               std::to_string(table_bytes);
    figures_.table_bytes = table_bytes;
    return {};
}

std::string NtfsTree::read_table() {
    // Past its initialized size the table reads as zeros: free records,
    // whatever the disk holds there.
    std::uint64_t count = initialized_ / boot_.record_size;
    std::uint64_t chunk_records = std::max<std::size_t>(1, kChunkBytes / boot_.record_size);
    // The runs lie inside the source, so this is bounded by its bytes; what
    // is reserved and not used is never touched.
    records_.reserve(count);
    names_.reserve(count + count / 4);
    arena_.size_blocks(std::bit_ceil(std::clamp<std::uint64_t>(count * 16, 4096, 1 << 20)));
    std::vector<std::byte> chunks[2];
    auto read_chunk = [&](std::uint64_t first, std::vector<std::byte>& chunk) {
        chunk.resize(std::min(chunk_records, count - first) * boot_.record_size);
        return read_through_runs(source_, table_runs_, boot_.cluster_size,
                                 first * boot_.record_size, chunk);
    };
    std::future<int> next;
    // A table of one chunk is read on this thread: there is nothing to overlap.
    if (count != 0)
        next = std::async(count > chunk_records ? std::launch::async : std::launch::deferred,
                          read_chunk, std::uint64_t{0}, std::ref(chunks[0]));
    for (std::uint64_t first = 0, turn = 0; first < count; first += chunk_records, turn ^= 1) {
        if (int err = next.get(); err != 0)
            return "cannot read the master file table at its record " + std::to_string(first) +
                   ": " + describe(err);
        if (first + chunk_records < count)
            next = std::async(std::launch::async, read_chunk, first + chunk_records,
                              std::ref(chunks[turn ^ 1]));
        std::span<std::byte> chunk = chunks[turn];
        for (std::size_t i = 0; i < chunk.size() / boot_.record_size; ++i)
            take_record(first + i, chunk.subspan(i * boot_.record_size, boot_.record_size));
    }
    figures_.records_read = records_.size();
    if (too_large_)
        return "the volume holds more names or index than this reader keeps (2^32 units of "
               "each in all)";
    return {};
}

void NtfsTree::damage(RecordNumber number, std::string why) {
    records_[number].state = State::damaged;
    ++figures_.damaged_records;
    record_damage_.emplace_back(number, "record " + std::to_string(number) +
                                            " of the master file table is damaged: " + why);
}

void NtfsTree::take_record(RecordNumber number, std::span<std::byte> bytes) {
    records_.emplace_back();
    if (!has_record_signature(bytes)) {
        bool blank = std::all_of(bytes.begin(), bytes.begin() + 4,
                                 [](std::byte b) { return b == std::byte{0}; });
        if (!blank) damage(number, "it has no FILE signature");
        return;
    }
    if (!(le16(bytes.data() + 0x16) & kRecordInUse)) return;
    std::string why;
    if (!apply_fixups(bytes, why) || !read_file_record(bytes, number, scratch_, why)) {
        damage(number, why);
        return;
    }
    Record& record = records_.back();
    record.sequence = scratch_.sequence;
    std::size_t names = names_.size(), units = arena_.size(), parts = parts_.size(),
                part_bytes = part_bytes_.size(), part_runs = part_runs_.size(),
                tags = pending_tags_.size();
    // An extension record's attributes are its base record's by its base
    // reference; the base's attribute list is not followed, so it leads
    // nowhere, and names come out as the folders' indexes hold them.
    if (scratch_.base != 0) {
        record.state = State::extension;
        take_attributes(number, scratch_.base);
    } else {
        record.state = State::base;
        record.folder = scratch_.folder();
        take_attributes(number, number | (std::uint64_t{scratch_.sequence} << 48));
    }
    if (records_[number].state == State::damaged) {
        // Nothing of a damaged record counts, not even what came before the damage.
        names_.resize(names);
        arena_.cut(units);
        parts_.resize(parts);
        part_bytes_.resize(part_bytes);
        part_runs_.resize(part_runs);
        pending_tags_.resize(tags);
        return;
    }
    ++figures_.records_in_use;
}

void NtfsTree::take_attributes(RecordNumber number, std::uint64_t owner) {
    bool base = reference_record(owner) == number;
    std::string why;
    for (const Attribute& attr : scratch_.attributes) {
        switch (attr.type) {
            case kFileName: {
                FileName name;
                if (!attr.resident || !read_file_name(attr.value, name, why)) {
                    damage(number, why.empty() ? "a file name is not resident" : why);
                    return;
                }
                // Short names are never listed, but both hosts find a folder
                // by its own; files' are left out, being most of them.
                if (name.name_space == kDosNamespace && !(base && scratch_.folder())) break;
                // Offsets are 32 bits: some 200 million names of 20 units.
                if (arena_.size() >
                        std::numeric_limits<std::uint32_t>::max() - (std::size_t{4} << 20) ||
                    names_.size() >= std::numeric_limits<std::uint32_t>::max()) {
                    too_large_ = true;
                    return;
                }
                Name kept{owner, name.parent, arena_.add(name.name),
                          static_cast<std::uint8_t>(name.name.size() / 2), name.name_space};
                names_.push_back(kept);
                break;
            }
            case kStandardInformation:
                if (!attr.resident || attr.value.size() < 0x24) {
                    damage(number, "its standard information is cut short");
                    return;
                }
                if (base) records_[number].attributes = le32(attr.value.data() + 0x20);
                break;
            case kReparsePoint: {
                std::uint32_t tag = 0;
                if (attr.resident) {
                    if (attr.value.size() < 4) {
                        damage(number, "its reparse point is cut short");
                        return;
                    }
                    tag = le32(attr.value.data());
                } else {
                    std::vector<Run> runs;
                    std::byte head[4];
                    if (attr.lowest_vcn != 0 || attr.data_size < 4 ||
                        attr.data_size > kLargestReparseData ||
                        !decode_runs(attr.runs, 0, source_clusters_, runs, why) ||
                        read_through_runs(source_, runs, boot_.cluster_size, 0, head) != 0) {
                        damage(number, "its reparse point cannot be read" +
                                           (why.empty() ? "" : ": " + why));
                        return;
                    }
                    tag = le32(head);
                }
                if (base)
                    records_[number].reparse_tag = tag;
                else
                    pending_tags_.push_back({owner, tag});
                break;
            }
            case kData:
                if (base && number == kUpcaseRecord && attr.name.empty() && !attr.resident &&
                    attr.lowest_vcn == 0) {
                    upcase_size_ = attr.data_size;
                    upcase_runs_.clear();
                    if (!decode_runs(attr.runs, 0, source_clusters_, upcase_runs_, why))
                        upcase_runs_.clear();
                }
                break;
            case kIndexRoot:
            case kIndexAllocation:
            case kBitmap: {
                if ((order_ != ListingOrder::index_blocks && !index_tree_) ||
                    !attr.named(kIndexName))
                    break;
                IndexPart part{owner,
                               attr.type == kIndexRoot         ? PartKind::root
                               : attr.type == kIndexAllocation ? PartKind::allocation
                                                               : PartKind::bitmap,
                               attr.resident,
                               attr.lowest_vcn,
                               attr.data_size,
                               0,
                               0};
                if (part_bytes_.size() + attr.value.size() >
                        std::numeric_limits<std::uint32_t>::max() ||
                    part_runs_.size() > std::numeric_limits<std::uint32_t>::max() / 2) {
                    too_large_ = true;
                    return;
                }
                if (attr.resident) {
                    part.begin = static_cast<std::uint32_t>(part_bytes_.size());
                    part.count = static_cast<std::uint32_t>(attr.value.size());
                    part.size = attr.value.size();
                    part_bytes_.insert(part_bytes_.end(), attr.value.begin(), attr.value.end());
                } else {
                    part.begin = static_cast<std::uint32_t>(part_runs_.size());
                    if (!decode_runs(attr.runs, attr.lowest_vcn, source_clusters_, part_runs_,
                                     why)) {
                        // The folder is still whole; what its index holds is not.
                        part_runs_.resize(part.begin);
                        RecordNumber folder = reference_record(owner);
                        folder_damage_.emplace_back(folder,
                                                    "folder record " + std::to_string(folder) +
                                                        ": its index's runs are damaged: " + why);
                        break;
                    }
                    part.count = static_cast<std::uint32_t>(part_runs_.size() - part.begin);
                }
                parts_.push_back(part);
                break;
            }
            default:
                break;
        }
    }
}

std::string NtfsTree::read_upcase() {
    const std::string prefix = "damaged NTFS volume: its $UpCase table (record 10) ";
    if (upcase_runs_.empty() || upcase_size_ == 0 || upcase_size_ > kLargestUpcase ||
        upcase_size_ > mapped_clusters(upcase_runs_) * boot_.cluster_size)
        return prefix + "is missing or out of bounds";
    std::vector<std::byte> bytes(upcase_size_);
    if (int err = read_through_runs(source_, upcase_runs_, boot_.cluster_size, 0, bytes); err != 0)
        return prefix + "cannot be read: " + describe(err);
    std::string why;
    upcase_ = Upcase::from_bytes(bytes, why);
    if (!upcase_) return prefix + why;
    return {};
}

void NtfsTree::sort_names() {
    // Extension records' pieces count only while their base record is whole
    // and still the one they name.
    for (const Pending& p : pending_tags_)
        if (whole(p.owner)) records_[reference_record(p.owner)].reparse_tag = p.tag;
    pending_tags_ = {};
    std::erase_if(names_, [&](const Name& n) { return whole(n.owner) == nullptr; });
    // Only names held in extension records come out of order.
    auto by_owner = [](const Name& a, const Name& b) {
        return reference_record(a.owner) < reference_record(b.owner);
    };
    if (!std::is_sorted(names_.begin(), names_.end(), by_owner))
        std::stable_sort(names_.begin(), names_.end(), by_owner);
    for (std::uint32_t i = 0; i < names_.size(); ++i) {
        Record& record = records_[reference_record(names_[i].owner)];
        if (record.name_count++ == 0) record.first_name = i;
    }
}

void NtfsTree::list_by_collation() {
    // Names are placed by folder (a counting sort), then each folder's few
    // sorted: far fewer comparisons through the table than one sort of all.
    auto shown = [&](const Name& name) {
        const Record* parent = whole(name.parent);
        return parent && parent->folder && name.name_space != kDosNamespace &&
               !hidden(reference_record(name.owner), reference_record(name.parent));
    };
    std::uint32_t total = 0;
    for (const Name& name : names_)
        if (shown(name)) ++records_[reference_record(name.parent)].child_count, ++total;
    std::uint32_t next = 0;
    for (Record& record : records_) {
        record.first_child = next;
        next += record.child_count;
        record.child_count = 0;
    }
    listing_.resize(total);
    for (std::uint32_t i = 0; i < names_.size(); ++i) {
        if (!shown(names_[i])) continue;
        Record& folder = records_[reference_record(names_[i].parent)];
        listing_[folder.first_child + folder.child_count++] = i;
    }
    for (const Record& record : records_) {
        auto first = listing_.begin() + record.first_child;
        std::sort(first, first + record.child_count, [&](std::uint32_t a, std::uint32_t b) {
            return upcase_->compare(text(names_[a]), text(names_[b])) < 0;
        });
    }
}

void NtfsTree::list_by_index() {
    std::stable_sort(parts_.begin(), parts_.end(), [](const IndexPart& a, const IndexPart& b) {
        return reference_record(a.owner) < reference_record(b.owner);
    });
    auto part = parts_.begin();
    for (RecordNumber number = 0; number < records_.size(); ++number) {
        while (part != parts_.end() && reference_record(part->owner) < number) ++part;
        auto end = part;
        while (end != parts_.end() && reference_record(end->owner) == number) ++end;
        const Record& record = records_[number];
        if (record.state == State::base && record.folder)
            list_folder_index(number, std::span(part, end));
        part = end;
    }
}

void NtfsTree::list_folder_index(RecordNumber number, std::span<const IndexPart> parts) {
    auto folder_damage = [&](std::string why) {
        folder_damage_.emplace_back(number, "folder record " + std::to_string(number) + ": " + why);
    };
    FolderIndex index;
    std::vector<Run> allocation;
    std::vector<std::byte> bitmap;
    std::vector<IndexPart> pieces;
    const std::uint64_t reference = number | (std::uint64_t{records_[number].sequence} << 48);
    for (const IndexPart& part : parts) {
        if (part.owner != reference) continue;  // an extension of a deleted record
        std::span<const std::byte> bytes(part_bytes_.data() + part.begin,
                                         part.resident ? part.count : 0);
        if (part.kind == PartKind::root && part.resident) index.root = bytes;
        if (part.kind == PartKind::allocation && !part.resident) pieces.push_back(part);
        if (part.kind == PartKind::bitmap) {
            if (part.resident) {
                index.bitmap = bytes;
            } else {
                std::span<const Run> runs(part_runs_.data() + part.begin, part.count);
                // Sparse runs would let a size the volume claims, not
                // bytes it holds, decide what is allocated here.
                bool sparse =
                    std::any_of(runs.begin(), runs.end(), [](const Run& r) { return r.sparse; });
                if (part.lowest_vcn != 0 || sparse ||
                    part.size > mapped_clusters(runs) * boot_.cluster_size) {
                    folder_damage("its index's bitmap is out of bounds");
                    continue;
                }
                bitmap.resize(part.size);
                if (int err = read_through_runs(source_, runs, boot_.cluster_size, 0, bitmap);
                    err != 0) {
                    folder_damage("its index's bitmap cannot be read: " + describe(err));
                    bitmap.clear();
                }
                index.bitmap = bitmap;
            }
        }
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const IndexPart& a, const IndexPart& b) { return a.lowest_vcn < b.lowest_vcn; });
    for (const IndexPart& piece : pieces) {
        if (piece.lowest_vcn == 0) index.allocation_size = piece.size;
        allocation.insert(allocation.end(), part_runs_.begin() + piece.begin,
                          part_runs_.begin() + piece.begin + piece.count);
    }
    if (!allocation.empty()) {
        std::uint64_t mapped = mapped_clusters(allocation) * boot_.cluster_size;
        if (mapped == 0 || index.allocation_size > mapped) {
            folder_damage("its index's runs do not map its allocation");
            allocation.clear();
        }
    }
    index.allocation = allocation;
    if (index.root.empty()) {
        folder_damage("it has no index root");
        return;
    }
    Record& folder = records_[number];
    folder.first_child = static_cast<std::uint32_t>(listing_.size());
    std::uint16_t folder_sequence = folder.sequence;
    auto visit = [&](std::uint64_t reference, const FileName& key) {
        RecordNumber owner = reference_record(reference);
        if (key.name_space == kDosNamespace || hidden(owner, number) || owner >= records_.size())
            return;
        Record& record = records_[owner];
        if (record.state == State::damaged && !record.placed) {
            record.placed = true;
            for (const auto& [damaged, why] : record_damage_)
                if (damaged == owner) folder_damage(why);
            return;
        }
        if (record.state != State::base || record.sequence != reference_sequence(reference))
            return;  // deleted or reused since the index named it
        for (std::uint32_t i = record.first_name; i < record.first_name + record.name_count; ++i) {
            const Name& name = names_[i];
            if (name.name_space != kDosNamespace &&
                name.parent == (number | (std::uint64_t{folder_sequence} << 48)) &&
                units_equal(key.name, text(name))) {
                listing_.push_back(i);
                return;
            }
        }
    };
    IndexGeometry geometry{boot_.cluster_size, boot_.index_block_size};
    for (std::string& why : index_tree_
                                ? read_index_in_tree_order(source_, index, geometry, visit)
                                : read_index_in_block_order(source_, index, geometry, visit))
        folder_damage(std::move(why));
    records_[number].child_count =
        static_cast<std::uint32_t>(listing_.size()) - records_[number].first_child;
}

void NtfsTree::find_parent_loops() {
    // Each folder's first name leads up towards the root; a path that comes
    // back to a folder on it is a loop, reported once.
    enum : std::uint8_t { unseen, on_path, done };
    std::vector<std::uint8_t> mark(records_.size(), unseen);
    std::vector<RecordNumber> path;
    auto up = [&](RecordNumber n) -> std::optional<RecordNumber> {
        const Record& r = records_[n];
        for (std::uint32_t i = r.first_name; i < r.first_name + r.name_count; ++i)
            if (whole(names_[i].parent)) return reference_record(names_[i].parent);
        return std::nullopt;
    };
    for (RecordNumber start = kFirstUserRecord; start < records_.size(); ++start) {
        if (mark[start] != unseen || records_[start].state != State::base ||
            !records_[start].folder)
            continue;
        path.clear();
        std::optional<RecordNumber> at = start;
        while (at && *at != kRootFolder && mark[*at] == unseen) {
            mark[*at] = on_path;
            path.push_back(*at);
            at = up(*at);
        }
        if (at && *at != kRootFolder && mark[*at] == on_path) {
            std::string members;
            for (auto it = std::find(path.begin(), path.end(), *at); it != path.end(); ++it)
                members += (members.empty() ? "" : ", ") + std::to_string(*it);
            unplaced_.push_back({EIO, "folder records " + members +
                                          " name each other as parent in a loop, so the root "
                                          "does not lead to them"});
        }
        for (RecordNumber n : path) mark[n] = done;
    }
}

std::optional<FolderDamage> NtfsTree::list(RecordNumber folder,
                                           std::vector<VolumeEntry>& out) const {
    out.clear();
    if (folder >= records_.size() || records_[folder].state != State::base ||
        !records_[folder].folder)
        return FolderDamage{EIO, "record " + std::to_string(folder) + " is no whole folder"};
    const Record& record = records_[folder];
    out.reserve(record.child_count);
    for (std::uint32_t i = record.first_child; i < record.first_child + record.child_count; ++i)
        out.push_back(entry(listing_[i]));
    auto first = std::lower_bound(
        folder_damage_.begin(), folder_damage_.end(), folder,
        [](const std::pair<RecordNumber, std::string>& d, RecordNumber n) { return d.first < n; });
    if (first == folder_damage_.end() || first->first != folder) return std::nullopt;
    FolderDamage damage{EIO, {}};
    for (auto it = first; it != folder_damage_.end() && it->first == folder; ++it)
        damage.message += (damage.message.empty() ? "" : "; ") + it->second;
    return damage;
}

std::optional<VolumeEntry> NtfsTree::find(RecordNumber folder, std::u16string_view name) const {
    if (folder >= records_.size() || records_[folder].state != State::base) return std::nullopt;
    const Record& record = records_[folder];
    std::optional<VolumeEntry> found;
    for (std::uint32_t i = record.first_child; i < record.first_child + record.child_count; ++i) {
        std::u16string_view candidate = text(names_[listing_[i]]);
        if (candidate == name) {
            found = entry(listing_[i]);
            break;
        }
        // Windows finds a name ignoring case; of names differing only in
        // case (POSIX ones), the one sorting first.
        if (!found && upcase_ && order_ == ListingOrder::collation &&
            upcase_->equal_ignoring_case(candidate, name))
            found = entry(listing_[i]);
    }
    // Then a folder's short name: ntfs-3g finds it exactly, Windows ignoring case.
    for (std::uint32_t i = record.first_child;
         !found && i < record.first_child + record.child_count; ++i) {
        const Record& child = records_[reference_record(names_[listing_[i]].owner)];
        for (std::uint32_t n = child.first_name; n < child.first_name + child.name_count; ++n) {
            const Name& short_name = names_[n];
            if (short_name.name_space != kDosNamespace ||
                short_name.parent != names_[listing_[i]].parent)
                continue;
            std::u16string_view candidate = text(short_name);
            if (candidate == name || (upcase_ && order_ == ListingOrder::collation &&
                                      upcase_->equal_ignoring_case(candidate, name)))
                found = entry(listing_[i]);
        }
    }
    if (found && !found->folder) return std::nullopt;
    return found;
}

}  // namespace

VolumeReadResult read_ntfs_volume(ByteSource& source, ListingOrder order) {
    auto tree = std::make_unique<NtfsTree>(source, order, false);
    std::string error = tree->read();
    if (!error.empty()) return {nullptr, std::move(error)};
    return {std::move(tree), {}};
}

VolumeReadResult read_ntfs_volume_in_tree_order(ByteSource& source) {
    auto tree = std::make_unique<NtfsTree>(source, ListingOrder::index_blocks, true);
    std::string error = tree->read();
    if (!error.empty()) return {nullptr, std::move(error)};
    return {std::move(tree), {}};
}

}  // namespace kestrafin::volume
