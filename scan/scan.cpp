#include "scan/scan.h"

#include <memory>
#include <new>
#include <span>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/path_rules.h"
#include "scan/rules/chosen_rules.h"
#include "scan/rules/exclusions.h"
#include "scan/rules/rule_list.h"
#include "search/path_text.h"
#include "search/walk_visitor.h"

namespace kestrafin::scan {

namespace {

constexpr Reason kFolderLength = reason_of(kFolderLengthRule);
constexpr Reason kPathLength = reason_of(kPathLengthRule);

// The length rules a folder's own path of `units` breaks.
Reasons own_length_reasons(const LengthRules& rules, std::size_t units) {
    const Verdict verdict = judge(rules, {.folder = units, .path = units});
    Reasons reasons;
    if (verdict.by_folder) reasons.add(kFolderLength);
    if (verdict.by_file) reasons.add(kPathLength);
    return reasons;
}

std::optional<TargetPrefix> target_of(const ScanRequest& request) {
    if (!request.target_prefix) return std::nullopt;
    return TargetPrefix(*request.target_prefix);
}

// The folder rule alone the walk applies itself, from the lengths it keeps.
// Any other rule, or lengths counted at another destination, needs every file.
bool rules_need_every_file(const ScanRequest& request) {
    return request.rules.file_longer_than || request.target_prefix || !request.checks.empty();
}

}  // namespace

// Judges what the walk hands on. When the walk hands on every file, the
// length rules are decided here; otherwise the walk has applied the folder
// rule itself. With name rules, the files of the folder being read wait for
// its listing, which tells whether their names collide.
class Scan::Judge : public search::WalkHooks {
  public:
    Judge(const ScanRequest& request, Sink& sink, ScanReport& report, const std::atomic<bool>* stop,
          std::size_t most_held_bytes)
        : request_(request),
          sink_(sink),
          report_(report),
          stop_(stop),
          rules_(effective_rules(request)),
          exclusions_(std::make_shared<const Exclusions>(request.excludes)),
          sees_every_file_(sink.sees_every_file()),
          judges_every_file_(rules_need_every_file(request) || sees_every_file_),
          needs_lengths_(judges_every_file_ || sink.needs_lengths()),
          measure_(request.root, target_of(request)),
          names_(request.checks),
          slashed_root_size_(search::addslash(request.root).size()),
          most_held_bytes_(most_held_bytes),
          own_file_(sink.own_file()) {}

    search::SearchOptions options() const {
        return {.longer_than = rules_.folder_longer_than.value_or(search::kDefaultLongerThan),
                .every_file = judges_every_file_,
                .exclusion = exclusions_->empty() ? nullptr : exclusions_,
                .threads = request_.threads,
                .follow_links = request_.follow_links,
                .one_file_system = request_.one_file_system,
                .include_offline = request_.include_offline,
                .leave_out = own_file_,
                .stop = stop_};
    }

    // Every folder the walk enters is listed; files held past the walk's end
    // are those of a walk that ended early, and keep what is known of them.
    void finish() {
        settle_held([&](const HeldFile& file) {
            settle_named_file(held_path(file), file.lengths, file.reasons);
        });
    }

  private:
    void add_entry(std::string_view entry_text) override;
    void folder_listed(std::string_view directory, const search::FolderNames& listing) override;
    void folder_unreadable(std::string_view directory, int error) override;
    void folder_not_entered(std::string_view directory, search::NotEntered reason) override {
        report_.folder_not_entered(directory, reason);
        sink_.folder_not_entered(directory, reason, report_);
    }
    void folder_done(std::string_view directory) override {
        report_.folder_done();
        sink_.folder_done(directory, report_);
    }
    bool should_stop() override {
        return stop_ != nullptr && stop_->load(std::memory_order_relaxed);
    }

    struct HeldFile {
        std::size_t offset;
        std::size_t length;
        EntryLengths lengths;
        Reasons reasons;
    };
    std::string_view held_path(const HeldFile& file) const {
        return std::string_view(held_paths_).substr(file.offset, file.length);
    }
    // Hands on each held file not yet handed on, then lets them all go.
    template <typename Settle>
    void settle_held(Settle settle) {
        for (; settled_ < held_.size(); ++settled_) settle(held_[settled_]);
        held_.clear();
        held_paths_.clear();
        settled_ = 0;
    }
    void settle_file(std::string_view entry_text, const EntryLengths& lengths, Reasons reasons);
    void settle_named_file(std::string_view entry_text, const EntryLengths& lengths,
                           Reasons reasons);
    void stop_holding(std::string_view entry_text);
    void list_folder_by_length(std::string_view directory);
    void list(const Entry& entry) {
        report_.entry_listed();
        sink_.entry(entry);
    }

    const ScanRequest& request_;
    Sink& sink_;
    ScanReport& report_;
    const std::atomic<bool>* stop_;
    LengthRules rules_;
    std::shared_ptr<const Exclusions> exclusions_;  // shared with the walk's readers
    bool sees_every_file_;
    bool judges_every_file_;
    bool needs_lengths_;
    LengthMeasure measure_;
    NameRules names_;
    std::size_t slashed_root_size_;
    std::vector<HeldFile> held_;
    // Held files handed on so far, so that a walk ended by memory running
    // out part way through them hands on the rest once, in finish().
    std::size_t settled_ = 0;
    std::string held_paths_;  // the held files' paths back to back
    std::size_t most_held_bytes_;
    // The folder being read grew past the bound: its files are not held.
    bool holding_stopped_ = false;
    // Folders listed by their name in their parent's listing, with their
    // length reasons, until their own listing comes: one entry each.
    std::unordered_set<std::string> listed_by_name_;
    std::string scratch_path_;
    std::vector<std::string_view> names_listed_;  // kept for their memory
    std::vector<Reasons> together_;               // what each breaks with the others
    std::optional<search::LeftOutFile> own_file_;
};

void Scan::Judge::add_entry(std::string_view entry_text) {
    const EntryLengths lengths = needs_lengths_ ? measure_.measure(entry_text) : EntryLengths{};
    const Verdict verdict =
        judges_every_file_ ? judge(rules_, lengths) : Verdict{.by_folder = true};
    Reasons reasons;
    if (verdict.by_folder) reasons.add(kFolderLength);
    if (verdict.by_file) reasons.add(kPathLength);
    if (!names_.any()) {
        settle_file(entry_text, lengths, reasons);
        return;
    }
    if (holding_stopped_) {
        settle_named_file(entry_text, lengths, reasons);
        return;
    }
    // Whether a name collides is known once the whole folder is read. The
    // path first: memory running out leaves no record without its path.
    const std::size_t offset = held_paths_.size();
    held_paths_.append(entry_text);
    held_.push_back({offset, entry_text.size(), lengths, reasons});
    if (held_paths_.size() + held_.size() * sizeof(HeldFile) > most_held_bytes_)
        stop_holding(entry_text);
}

// An endless folder would hold without end: past the bound its names are not
// compared, and the rest of its rules go on as it is read.
void Scan::Judge::stop_holding(std::string_view entry_text) {
    holding_stopped_ = true;
    const std::size_t folder_end = entry_text.rfind(platform::kPathSeparator);
    const std::string folder = folder_end + 1 <= slashed_root_size_
                                   ? request_.root
                                   : std::string(entry_text.substr(0, folder_end));
    sink_.names_unchecked(folder);
    settle_held([&](const HeldFile& file) {
        settle_named_file(held_path(file), file.lengths, file.reasons);
    });
}

void Scan::Judge::settle_named_file(std::string_view entry_text, const EntryLengths& lengths,
                                    Reasons reasons) {
    const std::size_t name_start = entry_text.rfind(platform::kPathSeparator) + 1;
    reasons.add(names_.judge(entry_text.substr(name_start), false));
    settle_file(entry_text, lengths, reasons);
}

void Scan::Judge::settle_file(std::string_view entry_text, const EntryLengths& lengths,
                              Reasons reasons) {
    std::string target;
    if (measure_.has_target() && (reasons.any() || sees_every_file_))
        target = measure_.target_path(entry_text);
    const Entry file{.path = entry_text,
                     .lengths = lengths,
                     .target_path = target,
                     .kind = EntryKind::file,
                     .reasons = reasons,
                     .error = {}};
    if (sees_every_file_) sink_.file_seen(file);
    if (reasons.any()) list(file);
}

void Scan::Judge::folder_listed(std::string_view directory, const search::FolderNames& listing) {
    report_.files_found(listing.files);
    // Called for every folder: a path below it is made only when one is used.
    const bool has_separator = !directory.empty() && directory.back() == platform::kPathSeparator;
    const std::size_t slashed_size = directory.size() + (has_separator ? 0 : 1);
    const auto path_of = [&](std::string_view name) -> const std::string& {
        scratch_path_.assign(directory);
        if (!has_separator) scratch_path_.push_back(platform::kPathSeparator);
        return scratch_path_.append(name);
    };
    for (const search::NamedEntry& excluded : listing.excluded) {
        const bool folder = excluded.kind == platform::EntryKind::folder ||
                            excluded.kind == platform::EntryKind::link_to_folder;
        sink_.left_out(path_of(excluded.name), folder);
    }
    if (!names_.any()) return;
    const auto held_name = [&](const HeldFile& file) {
        return std::string_view(held_paths_)
            .substr(file.offset + slashed_size, file.length - slashed_size);
    };
    const bool holds_files = !held_.empty() || holding_stopped_;
    const bool compared = names_.compares_names() && !holding_stopped_;
    holding_stopped_ = false;
    // Folders the walk left unentered (links to another machine, say) are
    // moved with the rest all the same.
    std::span<const search::NamedEntry> folders = listing.subfolders;
    std::vector<search::NamedEntry> with_declined;
    if (!listing.declined.empty()) {
        with_declined.assign(listing.subfolders.begin(), listing.subfolders.end());
        for (const search::DeclinedEntry& declined : listing.declined)
            with_declined.push_back({declined.name, declined.kind});
        folders = with_declined;
    }
    if (compared) {
        names_listed_.clear();
        for (const HeldFile& file : held_) names_listed_.push_back(held_name(file));
        for (const search::NamedEntry& subfolder : folders) names_listed_.push_back(subfolder.name);
        together_.assign(names_listed_.size(), Reasons());
        names_.judge_folder(names_listed_, together_);
    }
    std::size_t at = 0;
    settle_held([&](const HeldFile& file) {
        Reasons reasons = file.reasons;
        reasons.add(names_.judge(held_name(file), false));
        if (compared) reasons.add(together_[at]);
        ++at;
        settle_file(held_path(file), file.lengths, reasons);
    });
    const bool in_root = slashed_size == slashed_root_size_;
    const bool listed_by_name =
        !listed_by_name_.empty() && listed_by_name_.erase(std::string(directory)) > 0;
    if (!in_root && !holds_files && !listed_by_name) list_folder_by_length(directory);
    // A folder that breaks a name rule is one entry, whatever lies below it.
    for (const search::NamedEntry& subfolder : folders) {
        const std::string_view name = subfolder.name;
        Reasons reasons = names_.judge(name, in_root);
        if (compared) reasons.add(together_[at]);
        ++at;
        if (!reasons.any()) continue;
        path_of(name);
        EntryLengths lengths = measure_.measure(scratch_path_);
        const Reasons too_long = own_length_reasons(rules_, lengths.path);
        if (too_long.any()) {
            // Past a length rule by its own path, as a folder without files is.
            reasons.add(too_long);
            lengths.folder = lengths.path;
            listed_by_name_.insert(scratch_path_);
        }
        const std::string target =
            measure_.has_target() ? measure_.target_path(scratch_path_) : std::string();
        list({.path = scratch_path_,
              .lengths = lengths,
              .target_path = target,
              .kind = subfolder.kind == platform::EntryKind::link_to_folder ? EntryKind::link
                                                                            : EntryKind::folder,
              .reasons = reasons,
              .error = {}});
    }
}

// A folder that holds no files is refused by its own path's length, which
// no file of it shows; both its lengths are that path's.
void Scan::Judge::list_folder_by_length(std::string_view directory) {
    const std::size_t units = measure_.measure(directory).path;
    const Reasons reasons = own_length_reasons(rules_, units);
    if (!reasons.any()) return;
    const std::string target =
        measure_.has_target() ? measure_.target_path(directory) : std::string();
    list({.path = directory,
          .lengths = {.folder = units, .path = units},
          .target_path = target,
          .kind = EntryKind::folder,
          .reasons = reasons,
          .error = {}});
}

void Scan::Judge::folder_unreadable(std::string_view directory, int error) {
    report_.folder_unreadable(directory, error);
    // An entry too, so that a partial scan never reads as complete.
    const std::string reason = platform::error_text({error, std::system_category()});
    Reasons unreadable;
    unreadable.add(kUnreadable);
    const std::string target =
        measure_.has_target() ? measure_.target_path(directory) : std::string();
    sink_.folder_unreadable({.path = directory,
                             .lengths = measure_.measure(directory),
                             .target_path = target,
                             .kind = EntryKind::error,
                             .reasons = unreadable,
                             .error = reason},
                            error);
}

Scan::Scan(const ScanRequest& request, Sink& sink, const std::atomic<bool>* stop,
           std::size_t most_held_bytes)
    : request_(request),
      sink_(sink),
      stop_(stop),
      report_(request.root),
      start_(std::chrono::steady_clock::now()),
      judge_(std::make_unique<Judge>(request, sink, report_, stop, most_held_bytes)) {}

Scan::~Scan() = default;

search::WalkVisitor& Scan::walk_visitor() {
    return *judge_;
}

search::SearchOptions Scan::walk_options() const {
    return judge_->options();
}

void Scan::run() {
    // An administrator's scan then lists folders whose rights leave out
    // Administrators too.
    const platform::BackupReading backup;
    report_.backup_rights = backup.in_effect();
    sink_.started(report_);
    try {
        if (source_)
            source_(*judge_, judge_->options());
        else
            search::searchfiles(request_.root, *judge_, judge_->options());
    } catch (const std::bad_alloc&) {
        // The walk's memory is given back by now: what was found is kept.
        report_.out_of_memory = true;
    }
    finish();
}

void Scan::finish() {
    if (finished_) return;
    finished_ = true;
    judge_->finish();
    report_.stopped = stop_ != nullptr && stop_->load();
    report_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
}

}  // namespace kestrafin::scan
