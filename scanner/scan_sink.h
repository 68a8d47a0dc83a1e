// Where kestrafin-scan puts what the walk finds: standard output (as lines,
// CSV or JSON), a saved list file or only a count, and the summary; folders it
// cannot read go to standard error. When the walk hands on every file, the
// sink keeps those that break a rule.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "listfile/saved_list.h"
#include "scan/rules/check_profiles.h"
#include "scan/sinks/entry_format.h"
#include "scan/rules/length_rules.h"
#include "scan/rules/name_collisions.h"
#include "scanner/progress_line.h"
#include "scanner/scan_options.h"
#include "scan/sinks/summary.h"
#include "search/declined_folders.h"
#include "search/searchfiles.h"

namespace kestrafin::scanner {

using namespace scan;

// Writes all of `bytes` to `descriptor`. Raises std::system_error whose text
// begins with `what` when the stream fails.
void write_output(int descriptor, std::string_view bytes,
                  const char* what = "cannot write the output");

// The most that the files of one folder may hold while they wait for its
// listing to be checked for collisions: their paths and what is known of
// each. Past it the folder's files go on at once without that check.
inline constexpr std::size_t kMostHeldBytes = std::size_t{128} << 20;

class ScanSink : public search::SearchSink {
  public:
    ScanSink(const ScanOptions& options, int output, int errors,
             std::size_t most_held_bytes = kMostHeldBytes);

    void add_entry(std::string_view entry_text) override;
    void folder_listed(std::string_view slashed_path,
                       const search::FolderListing& listing) override;
    void folder_unreadable(std::string_view directory, int error) override;
    void folder_not_entered(std::string_view directory, search::NotEntered reason) override;
    void folder_done(std::string_view directory) override;

    // Told before the walk when it reads with backup rights: -v and the
    // summary say so.
    void reading_with_backup_rights();

    // Writes what is still buffered (and commits the list file), then the
    // summary when one was asked for, and says how many folders the walk did
    // not enter. Raises std::system_error when the output cannot be written.
    void finish();

    // The temporary file of the list being written, for the walk to leave
    // out: it is gone once the list is in place.
    std::optional<search::LeftOutFile> own_temporary_file() const;

    std::size_t entries() const { return entries_; }
    std::size_t folders_read() const { return folders_read_; }
    bool some_folder_unreadable() const { return unreadable_ > 0; }

  private:
    void flush_output();
    std::string render_summary(int destination) const;
    void warn(const std::string& text);
    void write_entry(const EntryRecord& record);
    void write_record(const EntryRecord& record);
    void settle_file(std::string_view entry_text, const EntryLengths& lengths, Reasons reasons);
    void settle_named_file(std::string_view entry_text, const EntryLengths& lengths,
                           Reasons reasons);
    void stop_holding(std::string_view entry_text);
    void list_folder_by_length(std::string_view directory);
    void say_declined();

    const ScanOptions& options_;
    int output_;
    int errors_;
    bool escape_entries_;
    std::unique_ptr<listfile::SavedListWriter> list_;
    std::string buffer_;
    ProgressLine progress_;
    // Set when the walk hands on every file and the rules are decided here;
    // otherwise it has applied the folder rule itself.
    bool judges_every_file_;
    bool needs_lengths_;
    LengthMeasure measure_;
    EntryFormat format_;
    NameRules names_;
    std::size_t slashed_root_size_;
    // With name rules, the files of the folder being read wait for its
    // listing: their paths back to back, and what is known of each.
    struct HeldFile {
        std::size_t offset;
        std::size_t length;
        EntryLengths lengths;
        Reasons reasons;
    };
    std::vector<HeldFile> held_;
    std::string held_paths_;
    std::size_t most_held_bytes_;
    // The folder being read grew past the bound: its files are not held.
    bool holding_stopped_ = false;
    // Folders listed by their name in their parent's listing, with their
    // length reasons, until their own listing comes: one record each.
    std::unordered_set<std::string> listed_by_name_;
    std::string scratch_path_;
    NameCollisions collisions_;
    std::vector<std::string_view> names_listed_;  // kept for their memory
    std::vector<bool> colliding_;
    std::optional<ScanSummary> summary_;
    std::size_t entries_ = 0;
    std::size_t folders_read_ = 0;
    std::size_t unreadable_ = 0;
    search::DeclinedFolders declined_;
    bool warned_line_break_ = false;
    bool backup_rights_ = false;
};

}  // namespace kestrafin::scanner
