// What changed between two scan records (docs/record-format.md) of the same
// roots: the entries fixed (in the old record only), new (in the new one
// only) and still failing (in both), an entry being known by its root, its
// relative path's exact bytes and its kind. A renamed or moved folder
// therefore shows as its entries fixed and as many new ones. An old entry
// below a folder the new scan could not read is not fixed but unread: the
// new scan cannot tell.
//
// Both records are read at once, each checked whole before anything of it is
// used, and kept compactly: the relative paths front-coded in walk order, a
// few bytes an entry beside them, so two records of a million entries each
// take some tens of megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scan/record/record_reader.h"

namespace kestrafin::scan::record {

enum class Change { fixed, added, still, unread };

// One entry of the diff. Texts are valid only during the call that hands it
// on; an entry's side it lacks (the new one of a fixed entry) is zero and
// empty.
struct EntryChange {
    Change change = Change::added;
    RecordKind kind = RecordKind::file;
    std::string_view root;
    std::string_view relative_path;
    std::string_view path;  // the new record's; the old one's for a fixed entry
    std::uint64_t old_folder_length = 0;
    std::uint64_t old_path_length = 0;
    std::uint64_t new_folder_length = 0;
    std::uint64_t new_path_length = 0;
    std::vector<std::string_view> old_reasons;
    std::vector<std::string_view> new_reasons;
    std::vector<std::string_view> reasons_gained;  // in the new reasons, not the old
    std::vector<std::string_view> reasons_lost;
};

// A folder where to act (scan/sinks/summary.h) in the new record.
struct FolderChanges {
    std::string path;
    std::size_t fixed = 0;
    std::size_t added = 0;
    std::size_t left = 0;  // the new record's entries below it
    std::size_t units_to_lose = 0;
};

struct RootChanges {
    std::string root;
    std::size_t fixed = 0;
    std::size_t added = 0;
    std::size_t left = 0;  // the new record's entries of the root
    std::size_t unread = 0;
    std::vector<FolderChanges> folders;
};

// A root of both records that one of them did not walk whole.
struct RootNote {
    std::string root;
    // Not when a record has no walk of it: it was not walked, or the scan
    // stopped before it. A stopped or incomplete walk is compared, but what
    // it did not reach shows as fixed (or, in the old record, as new).
    bool compared = false;
    std::string old_end;  // the root line's end; empty where there is none
    std::string new_end;
};

class RecordDiff {
  public:
    // Reads and checks both records, at the same time. Raises RecordError
    // for the first record found unsound (the old one's when both are).
    RecordDiff(const std::string& old_file, const std::string& new_file);
    ~RecordDiff();
    RecordDiff(const RecordDiff&) = delete;
    RecordDiff& operator=(const RecordDiff&) = delete;

    const ScanLine& old_scan() const;
    const ScanLine& new_scan() const;
    // Which of "rules", "checks", "target_prefix" and "excludes" differ; the
    // diff of two scans that did not apply the same rules lists what the
    // rules changed, not what the files did.
    std::vector<std::string> rules_differing() const;
    // The roots only one record holds, in its order; their entries are not
    // compared.
    std::vector<std::string> roots_only_old() const;
    std::vector<std::string> roots_only_new() const;
    // The roots of both records that one did not walk whole, in the new
    // record's order.
    const std::vector<RootNote>& roots_not_whole() const;

    // Hands on every difference: the new and the still failing entries in the
    // new record's order, then the fixed and unread ones in the old record's
    // order.
    void each(const std::function<void(const EntryChange&)>& visit) const;

    std::size_t count(Change change) const;

    // For each root of both records, in the new record's order: its counts
    // and its folders where to act, as the new record's entries give them.
    std::vector<RootChanges> summary() const;

  private:
    struct Records;
    std::unique_ptr<Records> records_;
};

}  // namespace kestrafin::scan::record
