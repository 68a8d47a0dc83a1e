#include "scanner/scan_sink.h"

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_rules.h"
#include "platform/process.h"
#include "scan/sinks/terminal_quote.h"
#include "search/folder_listing.h"
#include "search/path_text.h"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace kestrafin::scanner {

namespace {

constexpr std::size_t kOutputBlock = 256 * 1024;

// Messages on standard error are best effort: a closed stream loses them.
void write_message(int descriptor, const std::string& line) {
    try {
        platform::write_stream(descriptor, line);
    } catch (const std::system_error&) {
    }
}

// The length rules a folder's own path of `units` breaks.
Reasons own_length_reasons(const LengthRules& rules, std::size_t units) {
    const Verdict verdict = judge(rules, {.folder = units, .path = units});
    Reasons reasons;
    if (verdict.by_folder) reasons.add(Reason::folder_length);
    if (verdict.by_file) reasons.add(Reason::path_length);
    return reasons;
}

std::optional<TargetPrefix> target_of(const ScanOptions& options) {
    if (!options.target_prefix) return std::nullopt;
    return TargetPrefix(*options.target_prefix);
}

}  // namespace

void write_output(int descriptor, std::string_view bytes, const char* what) {
    try {
        platform::write_stream(descriptor, bytes);
    } catch (const std::system_error& error) {
        throw std::system_error(error.code(), what);
    }
}

ScanSink::ScanSink(const ScanOptions& options, int output, int errors, std::size_t most_held_bytes)
    : options_(options),
      output_(output),
      errors_(errors),
      // Entries are escaped only for a person reading a terminal; pipes and
      // files get the names' bytes exactly.
      escape_entries_(!options.null_terminated && platform::stream_is_terminal(output)),
      progress_(errors, !options.quiet),
      judges_every_file_(needs_every_file(options)),
      needs_lengths_(judges_every_file_ || options.format != OutputFormat::lines),
      measure_(options.root, target_of(options)),
      format_(options.format, options.null_terminated, options.target_prefix.has_value(),
              options.print_target),
      names_(options.checks),
      slashed_root_size_(search::addslash(options.root).size()),
      most_held_bytes_(most_held_bytes) {
    if (options_.list_file)
        list_ = std::make_unique<listfile::SavedListWriter>(*options_.list_file);
    if (options_.summary) summary_.emplace(options_.rules, search::addslash(options_.root));
    buffer_.reserve(kOutputBlock + 8192);
    if (!list_ && !options_.count_only) buffer_ = format_.header();
}

std::optional<search::LeftOutFile> ScanSink::own_temporary_file() const {
    if (!list_) return std::nullopt;
    const auto temporary = list_->temporary_file();
    if (!temporary) return std::nullopt;
    std::error_code error;
    const platform::Folder folder = platform::Folder::open(temporary->folder, error);
    if (!folder.is_open()) return std::nullopt;
    const platform::FolderIdentity identity = folder.identity(error);
    if (error) return std::nullopt;
    return search::LeftOutFile{identity, temporary->name};
}

void ScanSink::add_entry(std::string_view entry_text) {
    const EntryLengths lengths = needs_lengths_ ? measure_.measure(entry_text) : EntryLengths{};
    const Verdict verdict =
        judges_every_file_ ? judge(options_.rules, lengths) : Verdict{.by_folder = true};
    Reasons reasons;
    if (verdict.by_folder) reasons.add(Reason::folder_length);
    if (verdict.by_file) reasons.add(Reason::path_length);
    if (!names_.any()) {
        settle_file(entry_text, lengths, reasons);
        return;
    }
    if (holding_stopped_) {
        settle_named_file(entry_text, lengths, reasons);
        return;
    }
    // Whether a name collides is known once the whole folder is read.
    held_.push_back({held_paths_.size(), entry_text.size(), lengths, reasons});
    held_paths_.append(entry_text);
    if (held_paths_.size() + held_.size() * sizeof(HeldFile) > most_held_bytes_)
        stop_holding(entry_text);
}

// An endless folder would hold without end: past the bound its names are not
// compared, and the rest of its rules go on as it is read.
void ScanSink::stop_holding(std::string_view entry_text) {
    holding_stopped_ = true;
    const std::size_t folder_end = entry_text.rfind(platform::kPathSeparator);
    const std::string folder = folder_end + 1 <= slashed_root_size_
                                   ? options_.root
                                   : std::string(entry_text.substr(0, folder_end));
    // Said even when quiet: a check asked for is not made.
    progress_.clear();
    write_message(errors_, "kestrafin-scan: " + quoted_for_terminal(folder) +
                               " holds too many files to check their names for "
                               "collisions; its other rules are checked\n");
    for (const HeldFile& file : held_)
        settle_named_file(std::string_view(held_paths_).substr(file.offset, file.length),
                          file.lengths, file.reasons);
    held_.clear();
    held_paths_.clear();
}

void ScanSink::settle_named_file(std::string_view entry_text, const EntryLengths& lengths,
                                 Reasons reasons) {
    const std::size_t name_start = entry_text.rfind(platform::kPathSeparator) + 1;
    reasons.add(names_.judge(entry_text.substr(name_start), false));
    settle_file(entry_text, lengths, reasons);
}

void ScanSink::settle_file(std::string_view entry_text, const EntryLengths& lengths,
                           Reasons reasons) {
    // The summary names paths as the output does, so it needs the target only
    // when the lines show it.
    const bool target_needed = options_.print_target
                                   ? reasons.any() || summary_
                                   : reasons.any() && options_.format != OutputFormat::lines;
    std::string target;
    if (measure_.has_target() && target_needed) target = measure_.target_path(entry_text);
    if (summary_) summary_->file_seen(options_.print_target ? target : entry_text, lengths.path);
    if (!reasons.any()) return;
    if (summary_) {
        const std::size_t folder_end = entry_text.rfind(platform::kPathSeparator);
        summary_->entry_listed(
            reasons, lengths,
            entry_text.substr(
                0, folder_end == std::string_view::npos ? entry_text.size() : folder_end));
    }
    write_entry({.path = entry_text,
                 .lengths = lengths,
                 .target_path = target,
                 .kind = RecordKind::file,
                 .reasons = reasons,
                 .error = {}});
}

void ScanSink::folder_listed(std::string_view directory, const search::FolderListing& listing) {
    // Called for every folder: a path below it is made only when one is used.
    const bool has_separator = !directory.empty() && directory.back() == platform::kPathSeparator;
    const std::size_t slashed_size = directory.size() + (has_separator ? 0 : 1);
    const auto path_of = [&](std::string_view name) -> const std::string& {
        scratch_path_.assign(directory);
        if (!has_separator) scratch_path_.push_back(platform::kPathSeparator);
        return scratch_path_.append(name);
    };
    if (options_.verbose)
        for (const search::ListedName& excluded : listing.excluded) {
            const bool folder = excluded.kind == platform::EntryKind::folder ||
                                excluded.kind == platform::EntryKind::link_to_folder;
            path_of(listing.name_of(excluded));
            warn((folder ? "not entering " : "leaving out ") + quoted_for_terminal(scratch_path_) +
                 ": it is excluded");
        }
    if (!names_.any()) return;
    const auto held_name = [&](const HeldFile& file) {
        return std::string_view(held_paths_)
            .substr(file.offset + slashed_size, file.length - slashed_size);
    };
    const bool holds_files = !held_.empty() || holding_stopped_;
    const bool collisions = names_.collisions() && !holding_stopped_;
    if (holding_stopped_ && summary_) summary_->collisions_unchecked();
    holding_stopped_ = false;
    // Folders the walk left unentered (links to another machine, say) are
    // moved with the rest all the same.
    const std::vector<search::ListedName>* folders = &listing.subfolders;
    std::vector<search::ListedName> with_declined;
    if (!listing.declined.empty()) {
        with_declined = listing.subfolders;
        for (const search::DeclinedName& declined : listing.declined)
            with_declined.push_back(declined.name);
        folders = &with_declined;
    }
    if (collisions) {
        names_listed_.clear();
        for (const HeldFile& file : held_) names_listed_.push_back(held_name(file));
        for (const search::ListedName& subfolder : *folders)
            names_listed_.push_back(listing.name_of(subfolder));
        colliding_.assign(names_listed_.size(), false);
        for (const platform::NameComparison comparison : names_.collision_comparisons())
            collisions_.find(names_listed_, comparison, colliding_);
    }
    std::size_t at = 0;
    for (const HeldFile& file : held_) {
        Reasons reasons = file.reasons;
        reasons.add(names_.judge(held_name(file), false));
        if (collisions && colliding_[at]) reasons.add(Reason::collision);
        ++at;
        settle_file(std::string_view(held_paths_).substr(file.offset, file.length), file.lengths,
                    reasons);
    }
    held_.clear();
    held_paths_.clear();
    const bool in_root = slashed_size == slashed_root_size_;
    const bool listed_by_name =
        !listed_by_name_.empty() && listed_by_name_.erase(std::string(directory)) > 0;
    if (!in_root && !holds_files && !listed_by_name) list_folder_by_length(directory);
    // A folder that breaks a name rule is one entry, whatever lies below it.
    for (const search::ListedName& subfolder : *folders) {
        const std::string_view name = listing.name_of(subfolder);
        Reasons reasons = names_.judge(name, in_root);
        if (collisions && colliding_[at]) reasons.add(Reason::collision);
        ++at;
        if (!reasons.any()) continue;
        path_of(name);
        EntryLengths lengths = measure_.measure(scratch_path_);
        const Reasons too_long = own_length_reasons(options_.rules, lengths.path);
        if (too_long.any()) {
            // Past a length rule by its own path, as a folder without files is.
            reasons.add(too_long);
            lengths.folder = lengths.path;
            listed_by_name_.insert(scratch_path_);
        }
        if (summary_)
            summary_->entry_listed(reasons, lengths,
                                   too_long.any() ? std::string_view(scratch_path_) : directory);
        const std::string target =
            measure_.has_target() ? measure_.target_path(scratch_path_) : std::string();
        write_entry({.path = scratch_path_,
                     .lengths = lengths,
                     .target_path = target,
                     .kind = subfolder.kind == platform::EntryKind::link_to_folder
                                 ? RecordKind::link
                                 : RecordKind::folder,
                     .reasons = reasons,
                     .error = {}});
    }
}

// A folder that holds no files is refused by its own path's length, which
// no file of it shows; both its lengths are that path's.
void ScanSink::list_folder_by_length(std::string_view directory) {
    const std::size_t units = measure_.measure(directory).path;
    const Reasons reasons = own_length_reasons(options_.rules, units);
    if (!reasons.any()) return;
    const EntryLengths lengths{.folder = units, .path = units};
    if (summary_) summary_->entry_listed(reasons, lengths, directory);
    const std::string target =
        measure_.has_target() ? measure_.target_path(directory) : std::string();
    write_entry({.path = directory,
                 .lengths = lengths,
                 .target_path = target,
                 .kind = RecordKind::folder,
                 .reasons = reasons,
                 .error = {}});
}

void ScanSink::write_entry(const EntryRecord& record) {
    ++entries_;
    if (list_) {
        list_->add(record.path);
        return;
    }
    if (options_.count_only) return;
    const std::string_view shown = options_.print_target ? record.target_path : record.path;
    // On a terminal the entry is escaped onto one line.
    if (options_.format == OutputFormat::lines && !options_.null_terminated && !escape_entries_ &&
        !warned_line_break_ && shown.find('\n') != std::string_view::npos) {
        warned_line_break_ = true;
        warn(
            "a name holds a line break, so one entry spans several lines; use -0 to end "
            "entries with NUL instead");
    }
    write_record(record);
}

void ScanSink::write_record(const EntryRecord& record) {
    if (!escape_entries_) {
        format_.append(buffer_, record);
    } else if (options_.format == OutputFormat::lines) {
        const std::string path = escaped_for_terminal(record.path);
        const std::string target = escaped_for_terminal(record.target_path);
        EntryRecord escaped = record;
        escaped.path = path;
        escaped.target_path = target;
        format_.append(buffer_, escaped);
    } else {
        // A record keeps its own line end; what stands before it is made printable.
        std::string text;
        format_.append(text, record);
        std::size_t end = text.size();
        while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
        buffer_.append(printable_text(std::string_view(text).substr(0, end)));
        buffer_.append(text, end);
    }
    if (buffer_.size() >= kOutputBlock) flush_output();
}

void ScanSink::folder_unreadable(std::string_view directory, int error) {
    ++unreadable_;
    // Unreadable folders make the exit status 1 and are reported even when quiet.
    progress_.clear();
    const std::string reason = platform::error_text({error, std::system_category()});
    const std::string line =
        "kestrafin-scan: cannot read " + quoted_for_terminal(directory) + ": " + reason + "\n";
    write_message(errors_, line);
    // In records too, so that a partial scan never reads as complete. A root
    // that cannot be opened writes nothing at all: the program ends before
    // the output is flushed.
    if (options_.format == OutputFormat::lines) return;
    Reasons unreadable;
    unreadable.add(Reason::unreadable);
    const std::string target =
        measure_.has_target() ? measure_.target_path(directory) : std::string();
    write_record({.path = directory,
                  .lengths = measure_.measure(directory),
                  .target_path = target,
                  .kind = RecordKind::error,
                  .reasons = unreadable,
                  .error = reason});
}

void ScanSink::folder_not_entered(std::string_view directory, search::NotEntered reason) {
    declined_.count(reason);
    // A kernel file system is named even without -v when it is the root,
    // since then nothing is walked but other file systems mounted below it.
    if (options_.verbose ||
        (reason == search::NotEntered::kernel_file_system && folders_read_ == 0))
        warn("not entering " + quoted_for_terminal(directory) + ": " +
             search::not_entered_reason(reason));
}

void ScanSink::reading_with_backup_rights() {
    backup_rights_ = true;
    if (options_.verbose)
        warn(
            "reading with backup rights: folders whose rights leave this account out are "
            "read too");
}

void ScanSink::folder_done(std::string_view directory) {
    ++folders_read_;
    progress_.update(folders_read_, entries_, directory);
}

void ScanSink::warn(const std::string& text) {
    if (options_.quiet) return;
    progress_.clear();
    const std::string line = "kestrafin-scan: " + text + "\n";
    write_message(errors_, line);
}

void ScanSink::flush_output() {
    write_output(output_, buffer_, "cannot write the output");
    buffer_.clear();
}

void ScanSink::finish() {
    // Every folder the walk enters is listed; files held past the walk's end
    // would be a walk that stopped early, and keep what is known of them.
    for (const HeldFile& file : held_)
        settle_file(std::string_view(held_paths_).substr(file.offset, file.length), file.lengths,
                    file.reasons);
    held_.clear();
    progress_.clear();
    if (list_) list_->commit();
    if (options_.count_only) {
        buffer_ =
            summary_ ? render_summary(output_) : std::to_string(entries_) + " records found\n";
        flush_output();
        say_declined();
        return;
    }
    flush_output();
    if (summary_) write_output(errors_, render_summary(errors_), "cannot write the summary");
    say_declined();
}

// Files below a folder not entered are missing from the list, so this is
// said even when quiet.
void ScanSink::say_declined() {
    if (declined_.total() == 0) return;
    write_message(errors_, "kestrafin-scan: " + search::declined_text(declined_) +
                               (options_.verbose ? "\n" : "; -v names them\n"));
}

std::string ScanSink::render_summary(int destination) const {
    const bool terminal = platform::stream_is_terminal(destination);
    return (backup_rights_ ? "read with backup rights\n" : "") +
           summary_->render(folders_read_, unreadable_, terminal,
                            terminal ? terminal_width(destination) : 80);
}

}  // namespace kestrafin::scanner
