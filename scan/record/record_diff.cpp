#include "scan/record/record_diff.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/path_rules.h"
#include "scan/sinks/summary.h"
#include "search/path_text.h"

namespace kestrafin::scan::record {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// Every this many entries a relative path is kept whole, so that any one is
// found again by decoding at most this many.
constexpr std::size_t kRestartEvery = 16;

std::uint64_t mixed(std::uint64_t value) {
    value ^= value >> 33;
    value *= 0xff51afd7ed558ccdULL;
    value ^= value >> 33;
    value *= 0xc4ceb9fe1a85ec53ULL;
    value ^= value >> 33;
    return value;
}

std::uint64_t key_hash(std::uint64_t root_seed, RecordKind kind, std::string_view relative_path) {
    return mixed(std::hash<std::string_view>{}(relative_path) ^ root_seed ^
                 (static_cast<std::uint64_t>(kind) + 1) * 0x9e3779b97f4a7c15ULL);
}

void append_number(std::string& out, std::size_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

std::size_t read_number(const char*& at) {
    std::size_t value = 0;
    for (int shift = 0;; shift += 7) {
        const unsigned char byte = static_cast<unsigned char>(*at++);
        value |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) return value;
    }
}

// One record's entries, kept compactly in walk order.
class CompactEntries {
  public:
    struct Fixed {
        std::uint64_t folder_length;
        std::uint64_t path_length;
        std::uint32_t reasons;
        std::uint32_t prefix;  // the path before its relative path; kNone: an odd path
        std::uint32_t root;
        RecordKind kind;
    };

    void add(const EntryLine& entry, std::uint32_t root, std::uint64_t hash) {
        hashes_.push_back(hash);
        if (fixed_.size() == kNone - 1) throw std::length_error("more entries than a diff holds");
        const std::string_view path = entry.relative_path;
        std::size_t shared = 0;
        if (fixed_.size() % kRestartEvery == 0) {
            restarts_.push_back(bytes_.size());
        } else {
            const std::size_t most = std::min(path.size(), last_.size());
            while (shared < most && path[shared] == last_[shared]) ++shared;
        }
        append_number(bytes_, shared);
        append_number(bytes_, path.size() - shared);
        bytes_.append(path.substr(shared));
        last_.assign(path);

        std::uint32_t prefix = kNone;
        if (entry.path.ends_with(entry.relative_path)) {
            const std::string_view before =
                entry.path.substr(0, entry.path.size() - entry.relative_path.size());
            if (before != last_prefix_) {
                const auto [found, added] = prefix_ids_.try_emplace(
                    std::string(before), static_cast<std::uint32_t>(prefixes_.size()));
                if (added) prefixes_.push_back(found->first);
                last_prefix_ = found->first;
                last_prefix_id_ = found->second;
            }
            prefix = last_prefix_id_;
        } else {
            odd_paths_.emplace(static_cast<std::uint32_t>(fixed_.size()), std::string(entry.path));
        }
        fixed_.push_back(
            {entry.folder_length, entry.path_length, entry.reasons, prefix, root, entry.kind});
    }

    std::size_t size() const { return fixed_.size(); }
    std::uint64_t hash(std::size_t index) const { return hashes_[index]; }
    const Fixed& at(std::size_t index) const { return fixed_[index]; }

    // Decodes the relative paths one after another.
    class Cursor {
      public:
        explicit Cursor(const CompactEntries& entries, std::size_t from = 0)
            : entries_(entries), index_(from - from % kRestartEvery) {
            at_ = entries_.bytes_.data() +
                  (index_ < entries_.size() ? entries_.restarts_[index_ / kRestartEvery] : 0);
            while (index_ < from) next();
        }
        // The relative path of entry `index`: decoded on from here when it
        // comes soon after, from its restart point otherwise.
        const std::string& at(std::size_t index) {
            if (index < index_ || index - index_ >= kRestartEvery) {
                index_ = index - index % kRestartEvery;
                at_ = entries_.bytes_.data() + entries_.restarts_[index_ / kRestartEvery];
            }
            while (index_ < index) next();
            return next();
        }
        // The relative path of the entry after the last one given.
        const std::string& next() {
            const std::size_t shared = read_number(at_);
            const std::size_t rest = read_number(at_);
            path_.resize(shared);
            path_.append(at_, rest);
            at_ += rest;
            ++index_;
            return path_;
        }

      private:
        const CompactEntries& entries_;
        std::size_t index_;
        const char* at_;
        std::string path_;
    };

    // Entry `index`'s whole path, whose relative path is `relative_path`.
    void path(std::size_t index, std::string_view relative_path, std::string& into) const {
        const Fixed& entry = fixed_[index];
        if (entry.prefix == kNone) {
            into = odd_paths_.at(static_cast<std::uint32_t>(index));
            return;
        }
        into.assign(prefixes_[entry.prefix]);
        into.append(relative_path);
    }

  private:
    std::vector<Fixed> fixed_;
    std::vector<std::uint64_t> hashes_;  // of each key
    std::string bytes_;
    std::vector<std::size_t> restarts_;
    std::string last_;
    std::unordered_map<std::string, std::uint32_t> prefix_ids_;
    std::vector<std::string_view> prefixes_;
    std::string_view last_prefix_;
    std::uint32_t last_prefix_id_ = kNone;
    std::unordered_map<std::uint32_t, std::string> odd_paths_;
};

// A record's keys: key hashes to entry indices, each entry found checked
// against the key itself.
class KeyTable {
  public:
    // Entry `index`, the one after those inserted before it, has `hash`.
    void insert(std::uint32_t index, std::uint64_t hash, const CompactEntries& entries) {
        if ((static_cast<std::size_t>(index) + 1) * 2 > slots_.size()) {
            slots_.assign(std::max<std::size_t>(16, slots_.size() * 2), 0);
            mask_ = slots_.size() - 1;
            for (std::uint32_t earlier = 0; earlier < index; ++earlier)
                place(earlier, entries.hash(earlier));
        }
        place(index, hash);
    }

    // Calls `check` with each entry whose key has `hash` until it says yes;
    // returns that entry, or kNone.
    template <typename Check>
    std::uint32_t find(std::uint64_t hash, Check check) const {
        if (slots_.empty()) return kNone;
        const std::uint64_t tag = hash >> 32;
        for (std::size_t slot = hash & mask_; slots_[slot] != 0; slot = (slot + 1) & mask_) {
            if ((slots_[slot] >> 32) != tag) continue;
            const auto index = static_cast<std::uint32_t>((slots_[slot] & 0xFFFFFFFF) - 1);
            if (check(index)) return index;
        }
        return kNone;
    }

  private:
    void place(std::uint32_t index, std::uint64_t hash) {
        std::size_t slot = hash & mask_;
        while (slots_[slot] != 0) slot = (slot + 1) & mask_;
        slots_[slot] = (hash >> 32) << 32 | (std::uint64_t{index} + 1);
    }

    std::vector<std::uint64_t> slots_;
    std::size_t mask_ = 0;
};

// One record read: its scan line and its entries.
struct ReadRecord : RecordVisitor {
    ScanLine scan_line;
    CompactEntries entries;
    KeyTable keys;
    std::vector<std::uint64_t> root_seeds;
    std::vector<std::string> root_end;  // empty: no root line
    std::uint32_t last_root = 0;
    std::size_t roots_ended = 0;
    std::size_t errors = 0;  // entries of kind error

    void scan(const ScanLine& line) override {
        scan_line = line;
        root_end.assign(scan_line.roots.size(), std::string());
        for (const std::string& root : scan_line.roots)
            root_seeds.push_back(mixed(std::hash<std::string_view>{}(root)));
    }
    void entry(const EntryLine& line) override {
        // The reader has checked that entries come root after root in the
        // scan line's order.
        while (scan_line.roots[last_root] != line.root) ++last_root;
        const std::uint64_t hash = key_hash(root_seeds[last_root], line.kind, line.relative_path);
        // An entry listed twice would be matched once and left over once.
        const std::uint32_t same = keys.find(hash, [&](std::uint32_t candidate) {
            const CompactEntries::Fixed& other = entries.at(candidate);
            return other.root == last_root && other.kind == line.kind &&
                   CompactEntries::Cursor(entries).at(candidate) == line.relative_path;
        });
        if (same != kNone)
            throw LineRefused(
                "lists again an entry of an earlier line (its root, relative path "
                "and kind)");
        const auto index = static_cast<std::uint32_t>(entries.size());
        if (line.kind == RecordKind::error) ++errors;
        entries.add(line, last_root, hash);
        keys.insert(index, hash, entries);
    }
    // Root lines come in the scan line's order.
    void root(const RootLine& line) override { root_end[roots_ended++] = line.end; }
};

void codes(std::uint32_t bits, const std::vector<std::string>& table,
           std::vector<std::string_view>& into) {
    into.clear();
    for (std::size_t at = 0; at < table.size(); ++at)
        if ((bits >> at) & 1) into.push_back(table[at]);
}

void missing_from(const std::vector<std::string_view>& these,
                  const std::vector<std::string_view>& those, std::vector<std::string_view>& into) {
    into.clear();
    for (const std::string_view code : these)
        if (std::find(those.begin(), those.end(), code) == those.end()) into.push_back(code);
}

EntryKind entry_kind(RecordKind kind) {
    switch (kind) {
        case RecordKind::file:
            return EntryKind::file;
        case RecordKind::folder:
            return EntryKind::folder;
        case RecordKind::link:
            return EntryKind::link;
        case RecordKind::error:
            return EntryKind::error;
    }
    return EntryKind::file;
}

// Whether `path` is `folder` or lies below it.
bool lies_in(std::string_view path, std::string_view folder) {
    return path.starts_with(folder) &&
           (path.size() == folder.size() || path[folder.size()] == platform::kPathSeparator);
}

}  // namespace

struct RecordDiff::Records {
    ReadRecord old_record;
    ReadRecord new_record;
    // For each new entry the old one it is, or kNone.
    std::vector<std::uint32_t> old_of_new;
    std::vector<bool> old_matched;
    // Old entries not matched that lie below a folder the new scan could not
    // read.
    std::vector<bool> old_unread;
    // For each new root the same old one, or kNone.
    std::vector<std::uint32_t> old_root_of_new;
    std::vector<bool> old_root_compared;
    std::vector<RootNote> notes;
    std::size_t counts[4] = {};
};

RecordDiff::RecordDiff(const std::string& old_file, const std::string& new_file)
    : records_(std::make_unique<Records>()) {
    Records& records = *records_;
    std::exception_ptr old_failure;
    std::thread old_reader([&] {
        try {
            read_record(old_file, records.old_record);
        } catch (...) {
            old_failure = std::current_exception();
        }
    });
    std::exception_ptr new_failure;
    try {
        read_record(new_file, records.new_record);
    } catch (...) {
        new_failure = std::current_exception();
    }
    old_reader.join();
    if (old_failure) std::rethrow_exception(old_failure);
    if (new_failure) std::rethrow_exception(new_failure);

    const std::vector<std::string>& old_roots = records.old_record.scan_line.roots;
    records.old_root_compared.assign(old_roots.size(), false);
    const std::vector<std::string>& new_roots = records.new_record.scan_line.roots;
    std::unordered_map<std::string_view, std::uint32_t> old_root_of;
    for (std::size_t at = 0; at < old_roots.size(); ++at)
        old_root_of.emplace(old_roots[at], static_cast<std::uint32_t>(at));
    for (std::size_t at = 0; at < new_roots.size(); ++at) {
        const auto found = old_root_of.find(new_roots[at]);
        std::uint32_t old_root = kNone;
        if (found != old_root_of.end()) {
            old_root = found->second;
            const std::string& old_end = records.old_record.root_end[old_root];
            const std::string& new_end = records.new_record.root_end[at];
            // A walk that did not take place has nothing to compare.
            const bool compared = !old_end.empty() && old_end != "not_walked" && !new_end.empty() &&
                                  new_end != "not_walked";
            if (!compared || old_end != "complete" || new_end != "complete")
                records.notes.push_back({new_roots[at], compared, old_end, new_end});
            if (!compared) old_root = kNone;
        }
        records.old_root_of_new.push_back(old_root);
        if (old_root != kNone) records.old_root_compared[old_root] = true;
    }

    const CompactEntries& old_entries = records.old_record.entries;
    const CompactEntries& new_entries = records.new_record.entries;
    records.old_of_new.assign(new_entries.size(), kNone);
    records.old_matched.assign(old_entries.size(), false);
    CompactEntries::Cursor cursor(new_entries);
    // Entries found in both mostly come in the same order.
    CompactEntries::Cursor old_cursor(old_entries);
    for (std::size_t index = 0; index < new_entries.size(); ++index) {
        const std::string& relative_path = cursor.next();
        const CompactEntries::Fixed& entry = new_entries.at(index);
        const std::uint32_t old_root = records.old_root_of_new[entry.root];
        if (old_root == kNone) continue;
        const std::uint32_t found =
            records.old_record.keys.find(new_entries.hash(index), [&](std::uint32_t candidate) {
                const CompactEntries::Fixed& old_entry = old_entries.at(candidate);
                return old_entry.root == old_root && old_entry.kind == entry.kind &&
                       old_cursor.at(candidate) == relative_path;
            });
        records.old_of_new[index] = found;
        if (found != kNone) records.old_matched[found] = true;
        ++records.counts[static_cast<int>(found == kNone ? Change::added : Change::still)];
    }
    std::vector<std::uint32_t> new_root_of_old(old_roots.size(), kNone);
    for (std::size_t at = 0; at < records.old_root_of_new.size(); ++at)
        if (records.old_root_of_new[at] != kNone)
            new_root_of_old[records.old_root_of_new[at]] = static_cast<std::uint32_t>(at);
    const ReadRecord& after = records.new_record;
    // Whether some folder above `relative_path` is an error entry of the new
    // record's root `new_root`.
    const auto below_unreadable = [&](std::uint32_t new_root, std::string_view relative_path) {
        for (std::size_t cut = relative_path.rfind(platform::kPathSeparator);
             cut != std::string_view::npos && cut > 0;
             cut = relative_path.rfind(platform::kPathSeparator, cut - 1)) {
            const std::string_view folder = relative_path.substr(0, cut);
            const std::uint64_t hash =
                key_hash(after.root_seeds[new_root], RecordKind::error, folder);
            const std::uint32_t found = after.keys.find(hash, [&](std::uint32_t candidate) {
                const CompactEntries::Fixed& other = after.entries.at(candidate);
                return other.root == new_root && other.kind == RecordKind::error &&
                       CompactEntries::Cursor(after.entries).at(candidate) == folder;
            });
            if (found != kNone) return true;
        }
        return false;
    };
    records.old_unread.assign(old_entries.size(), false);
    const bool new_has_errors = after.errors > 0;
    CompactEntries::Cursor left_cursor(old_entries);
    for (std::size_t index = 0; index < old_entries.size(); ++index) {
        const std::string& relative_path = left_cursor.next();
        const std::uint32_t old_root = old_entries.at(index).root;
        if (!records.old_root_compared[old_root] || records.old_matched[index]) continue;
        const bool unread =
            new_has_errors && below_unreadable(new_root_of_old[old_root], relative_path);
        records.old_unread[index] = unread;
        ++records.counts[static_cast<int>(unread ? Change::unread : Change::fixed)];
    }
}

RecordDiff::~RecordDiff() = default;

const ScanLine& RecordDiff::old_scan() const {
    return records_->old_record.scan_line;
}
const ScanLine& RecordDiff::new_scan() const {
    return records_->new_record.scan_line;
}

std::vector<std::string> RecordDiff::rules_differing() const {
    const ScanLine& before = old_scan();
    const ScanLine& after = new_scan();
    std::vector<std::string> differing;
    if (before.folder_longer_than != after.folder_longer_than ||
        before.path_longer_than != after.path_longer_than)
        differing.push_back("rules");
    if (before.checks != after.checks) differing.push_back("checks");
    if (before.target_prefix != after.target_prefix) differing.push_back("target_prefix");
    if (before.excludes != after.excludes) differing.push_back("excludes");
    return differing;
}

namespace {

std::vector<std::string> roots_missing(const std::vector<std::string>& these,
                                       const std::vector<std::string>& those) {
    const std::unordered_set<std::string_view> there(those.begin(), those.end());
    std::vector<std::string> missing;
    for (const std::string& root : these)
        if (!there.contains(root)) missing.push_back(root);
    return missing;
}

}  // namespace

std::vector<std::string> RecordDiff::roots_only_old() const {
    return roots_missing(old_scan().roots, new_scan().roots);
}

std::vector<std::string> RecordDiff::roots_only_new() const {
    return roots_missing(new_scan().roots, old_scan().roots);
}

const std::vector<RootNote>& RecordDiff::roots_not_whole() const {
    return records_->notes;
}

std::size_t RecordDiff::count(Change change) const {
    return records_->counts[static_cast<int>(change)];
}

void RecordDiff::each(const std::function<void(const EntryChange&)>& visit) const {
    const Records& records = *records_;
    const CompactEntries& old_entries = records.old_record.entries;
    const CompactEntries& new_entries = records.new_record.entries;
    const ScanLine& before = old_scan();
    const ScanLine& after = new_scan();
    EntryChange change;
    std::string path;
    std::string old_relative_path;

    CompactEntries::Cursor cursor(new_entries);
    for (std::size_t index = 0; index < new_entries.size(); ++index) {
        const std::string& relative_path = cursor.next();
        const CompactEntries::Fixed& entry = new_entries.at(index);
        if (records.old_root_of_new[entry.root] == kNone) continue;
        const std::uint32_t old_index = records.old_of_new[index];
        change.change = old_index == kNone ? Change::added : Change::still;
        change.kind = entry.kind;
        change.root = after.roots[entry.root];
        change.relative_path = relative_path;
        new_entries.path(index, relative_path, path);
        change.path = path;
        change.new_folder_length = entry.folder_length;
        change.new_path_length = entry.path_length;
        codes(entry.reasons, after.reasons, change.new_reasons);
        if (old_index == kNone) {
            change.old_folder_length = change.old_path_length = 0;
            change.old_reasons.clear();
        } else {
            const CompactEntries::Fixed& old_entry = old_entries.at(old_index);
            change.old_folder_length = old_entry.folder_length;
            change.old_path_length = old_entry.path_length;
            codes(old_entry.reasons, before.reasons, change.old_reasons);
        }
        missing_from(change.new_reasons, change.old_reasons, change.reasons_gained);
        missing_from(change.old_reasons, change.new_reasons, change.reasons_lost);
        if (old_index == kNone) change.reasons_gained.clear();
        visit(change);
    }

    CompactEntries::Cursor old_cursor(old_entries);
    change.change = Change::fixed;
    change.new_folder_length = change.new_path_length = 0;
    change.new_reasons.clear();
    change.reasons_gained.clear();
    change.reasons_lost.clear();
    for (std::size_t index = 0; index < old_entries.size(); ++index) {
        const std::string& relative_path = old_cursor.next();
        if (records.old_matched[index]) continue;
        const CompactEntries::Fixed& entry = old_entries.at(index);
        if (!records.old_root_compared[entry.root]) continue;
        change.change = records.old_unread[index] ? Change::unread : Change::fixed;
        change.kind = entry.kind;
        change.root = before.roots[entry.root];
        change.relative_path = relative_path;
        old_entries.path(index, relative_path, path);
        change.path = path;
        change.old_folder_length = entry.folder_length;
        change.old_path_length = entry.path_length;
        codes(entry.reasons, before.reasons, change.old_reasons);
        visit(change);
    }
}

std::vector<RootChanges> RecordDiff::summary() const {
    const ScanLine& after = new_scan();
    // The scan layer's codes, by their place in the new record's reasons.
    std::vector<std::optional<Reason>> reason_of_code;
    for (const std::string& code : after.reasons) {
        std::optional<Reason> found;
        for (std::size_t at = 0; at < kMostReasons; ++at)
            if (reason_code(Reason(at)) == code) found = Reason(at);
        reason_of_code.push_back(found);
    }
    const LengthRules rules{after.folder_longer_than, after.path_longer_than};

    std::vector<RootChanges> roots;
    std::vector<ScanSummary> summaries;
    std::vector<std::size_t> root_place(after.roots.size(), kNone);
    for (std::size_t at = 0; at < after.roots.size(); ++at) {
        if (records_->old_root_of_new[at] == kNone) continue;
        root_place[at] = roots.size();
        roots.push_back({after.roots[at], 0, 0, 0, 0, {}});
        summaries.emplace_back(rules, search::addslash(after.roots[at]));
    }
    const CompactEntries& new_entries = records_->new_record.entries;
    {
        CompactEntries::Cursor cursor(new_entries);
        std::string path;
        for (std::size_t index = 0; index < new_entries.size(); ++index) {
            const std::string& relative_path = cursor.next();
            const CompactEntries::Fixed& entry = new_entries.at(index);
            const std::size_t place = root_place[entry.root];
            if (place == kNone || entry.kind == RecordKind::error) continue;
            Reasons reasons;
            for (std::size_t at = 0; at < reason_of_code.size(); ++at)
                if (((entry.reasons >> at) & 1) && reason_of_code[at])
                    reasons.add(*reason_of_code[at]);
            new_entries.path(index, relative_path, path);
            summaries[place].entry_listed(reasons,
                                          EntryLengths{entry.folder_length, entry.path_length},
                                          counted_folder(entry_kind(entry.kind), reasons, path));
        }
    }
    for (std::size_t place = 0; place < roots.size(); ++place)
        for (const FolderToActOn& folder : summaries[place].folders_to_act_on())
            roots[place].folders.push_back({folder.path, 0, 0, 0, folder.units_to_lose});

    // Roots compared have the same text in both records.
    std::unordered_map<std::string_view, std::size_t> place_of_root;
    for (std::size_t place = 0; place < roots.size(); ++place)
        place_of_root.emplace(roots[place].root, place);
    each([&](const EntryChange& change) {
        RootChanges& changes = roots[place_of_root.at(change.root)];
        if (change.change == Change::unread) {
            ++changes.unread;
            return;
        }
        const auto tally = [&](std::size_t& fixed, std::size_t& added, std::size_t& left) {
            if (change.change == Change::fixed) {
                ++fixed;
                return;
            }
            ++left;
            if (change.change == Change::added) ++added;
        };
        tally(changes.fixed, changes.added, changes.left);
        for (FolderChanges& folder : changes.folders)
            if (lies_in(change.path, folder.path)) tally(folder.fixed, folder.added, folder.left);
    });
    return roots;
}

}  // namespace kestrafin::scan::record
