#include "scan/sinks/summary.h"

#include <algorithm>
#include <cstdio>

#include "platform/path_rules.h"
#include "platform/process.h"
#include "scan/rules/rule_list.h"
#include "scan/sinks/terminal_quote.h"

namespace kestrafin::scan {

namespace {

constexpr Reason kFolderLength = reason_of(kFolderLengthRule);
constexpr Reason kPathLength = reason_of(kPathLengthRule);

std::string figure_line(std::string_view label, std::size_t value) {
    return std::string(label) + ": " + std::to_string(value) + "\n";
}

}  // namespace

void ScanSummary::file_seen(std::string_view shown_path, std::size_t path_length) {
    ++files_seen_;
    const std::size_t band = length_band(path_length);
    if (bands_.size() <= band) bands_.resize(band + 1);
    ++bands_[band];
    keep_longest(path_length, shown_path);
}

void ScanSummary::keep_longest(std::size_t path_length, std::string_view path) {
    if (longest_.size() == kLongestShown && path_length <= longest_.back().first) return;
    // After every path of the same length, so the first seen stays first.
    const auto at =
        std::upper_bound(longest_.begin(), longest_.end(), path_length,
                         [](std::size_t length, const auto& kept) { return length > kept.first; });
    longest_.emplace(at, path_length, std::string(path));
    if (longest_.size() > kLongestShown) longest_.pop_back();
}

void ScanSummary::add(const ScanSummary& other) {
    files_seen_ += other.files_seen_;
    listed_ += other.listed_;
    listed_by_folder_ += other.listed_by_folder_;
    listed_by_file_ += other.listed_by_file_;
    collisions_unchecked_ += other.collisions_unchecked_;
    for (std::size_t reason = 0; reason < kMostReasons; ++reason)
        by_reason_[reason] += other.by_reason_[reason];
    if (bands_.size() < other.bands_.size()) bands_.resize(other.bands_.size());
    for (std::size_t band = 0; band < other.bands_.size(); ++band)
        bands_[band] += other.bands_[band];
    for (const auto& [length, path] : other.longest_) keep_longest(length, path);
    for (const FolderToActOn& folder : other.folders_to_act_on())
        keep_best(acted_on_, folder.path, folder.entries, folder.units_to_lose);
}

namespace {

bool more_to_act_on(std::size_t entries, std::size_t units_to_lose, std::string_view path,
                    const FolderToActOn& other) {
    if (entries != other.entries) return entries > other.entries;
    if (units_to_lose != other.units_to_lose) return units_to_lose < other.units_to_lose;
    return path < other.path;
}

// Whether `folder` is `above` or lies below it.
bool lies_in(std::string_view folder, std::string_view above) {
    return folder.starts_with(above) &&
           (folder.size() == above.size() || folder[above.size()] == platform::kPathSeparator);
}

}  // namespace

void ScanSummary::entry_listed(Reasons reasons, const EntryLengths& lengths,
                               std::string_view folder) {
    ++listed_;
    listed_by_folder_ += reasons.has(kFolderLength);
    listed_by_file_ += reasons.has(kPathLength);
    reasons.each([&](Reason reason) { ++by_reason_[reason.index()]; });

    // A profile's shorter limit may list an entry that the rule given lets pass.
    std::size_t excess = 0;
    if (reasons.has(kPathLength) && rules_.file_longer_than &&
        lengths.path > *rules_.file_longer_than)
        excess = lengths.path - *rules_.file_longer_than;
    if (reasons.has(kFolderLength) && rules_.folder_longer_than &&
        lengths.folder > *rules_.folder_longer_than)
        excess = std::max(excess, lengths.folder - *rules_.folder_longer_than);
    if (excess == 0 || folder.size() < slashed_root_.size()) return;
    // A shorter name of any folder from the root down to this one shortens
    // the entry as much; the walk is depth first, so the folders it has left
    // are complete.
    leave_folders_above(folder);
    for (std::size_t end = chain_.empty() ? slashed_root_.size() : chain_path_.size() + 1;
         end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != platform::kPathSeparator) continue;
        chain_.push_back({end, 0, 0});
    }
    chain_path_.assign(folder);
    ChainLink& here = chain_.back();
    ++here.entries;
    here.units_to_lose = std::max(here.units_to_lose, excess);
}

void ScanSummary::leave_folders_above(std::string_view folder) {
    while (!chain_.empty() && !lies_in(folder, chain_path_)) {
        const ChainLink left = chain_.back();
        chain_.pop_back();
        keep_best(acted_on_, chain_path_, left.entries, left.units_to_lose);
        if (chain_.empty()) break;
        ChainLink& above = chain_.back();
        above.entries += left.entries;
        above.units_to_lose = std::max(above.units_to_lose, left.units_to_lose);
        chain_path_.resize(above.path_end);
    }
}

void ScanSummary::keep_best(std::vector<FolderToActOn>& best, std::string_view path,
                            std::size_t entries, std::size_t units_to_lose) {
    if (best.size() == kFoldersToActOn &&
        !more_to_act_on(entries, units_to_lose, path, best.back()))
        return;
    const auto at = std::find_if(best.begin(), best.end(), [&](const FolderToActOn& kept) {
        return more_to_act_on(entries, units_to_lose, path, kept);
    });
    best.insert(at, {std::string(path), entries, units_to_lose});
    if (best.size() > kFoldersToActOn) best.pop_back();
}

std::vector<FolderToActOn> ScanSummary::folders_to_act_on() const {
    std::vector<FolderToActOn> best = acted_on_;
    std::size_t entries = 0;
    std::size_t units_to_lose = 0;
    for (auto link = chain_.rbegin(); link != chain_.rend(); ++link) {
        entries += link->entries;
        units_to_lose = std::max(units_to_lose, link->units_to_lose);
        keep_best(best, std::string_view(chain_path_).substr(0, link->path_end), entries,
                  units_to_lose);
    }
    return best;
}

std::size_t ScanSummary::held_bytes() const {
    std::size_t bytes = slashed_root_.capacity() + chain_path_.capacity() +
                        chain_.capacity() * sizeof(ChainLink) +
                        bands_.capacity() * sizeof(std::size_t);
    for (const FolderToActOn& folder : acted_on_) bytes += sizeof folder + folder.path.capacity();
    for (const auto& [length, path] : longest_) bytes += sizeof length + path.capacity();
    return bytes;
}

std::string ScanSummary::render(std::size_t folders_read, std::size_t folders_unreadable,
                                bool terminal, std::size_t width) const {
    std::string text = figure_line("folders read", folders_read);
    text += figure_line("folders unreadable", folders_unreadable);
    text += figure_line("files seen", files_seen_);
    text += figure_line("entries listed", listed_);
    if (rules_.folder_longer_than)
        text += figure_line("entries whose folder path is longer than " +
                                std::to_string(*rules_.folder_longer_than),
                            listed_by_folder_);
    if (rules_.file_longer_than)
        text += figure_line(
            "entries whose path is longer than " + std::to_string(*rules_.file_longer_than),
            listed_by_file_);
    // Said only when it happened, so that a summary without it reads as before.
    if (collisions_unchecked_ > 0)
        text += figure_line("folders too large to check for collisions", collisions_unchecked_);
    text += "entries per reason:\n";
    for (std::size_t reason = 0; reason < kMostReasons; ++reason)
        if (by_reason_[reason] > 0)
            text +=
                figure_line("  " + std::string(reason_code(Reason(reason))), by_reason_[reason]);

    text +=
        "folders with the most entries past a length rule below them (entries, units "
        "to lose for all to fit, folder):\n";
    for (const FolderToActOn& folder : folders_to_act_on())
        text += "  " + std::to_string(folder.entries) + " " + std::to_string(folder.units_to_lose) +
                " " + (terminal ? escaped_for_terminal(folder.path) : folder.path) + "\n";

    text += "longest paths of all files seen:\n";
    for (const auto& [length, path] : longest_)
        text += "  " + std::to_string(length) + " " +
                (terminal ? escaped_for_terminal(path) : path) + "\n";

    text += "path lengths of all files seen, in bands of " + std::to_string(kBandWidth) + ":\n";
    const std::size_t most = bands_.empty() ? 0 : *std::max_element(bands_.begin(), bands_.end());
    constexpr std::size_t kLabelColumns = 22;
    const std::size_t bar_room = width > kLabelColumns + 10 ? width - kLabelColumns - 1 : 10;
    for (std::size_t band = 0; band < bands_.size(); ++band) {
        char line[64];
        const bool open_ended = band * kBandWidth == kLongestBanded;
        const std::string range =
            std::to_string(band * kBandWidth + 1) + "-" +
            (open_ended ? std::string() : std::to_string((band + 1) * kBandWidth));
        std::snprintf(line, sizeof line, "  %9s %10zu", range.c_str(), bands_[band]);
        text += line;
        if (terminal && bands_[band] > 0) {
            // Every band that holds a path shows at least one mark.
            const std::size_t bar = std::max<std::size_t>(1, bands_[band] * bar_room / most);
            text += " " + std::string(bar, '#');
        }
        text += "\n";
    }
    return text;
}

void SummaryOutput::file_seen(const Entry& file) {
    summary_.file_seen(print_target_ ? file.target_path : file.path, file.lengths.path);
}

std::string_view counted_folder(EntryKind kind, Reasons reasons, std::string_view path) {
    const bool own_path =
        kind != EntryKind::file && (reasons.has(kFolderLength) || reasons.has(kPathLength));
    const std::size_t folder_end = path.rfind(platform::kPathSeparator);
    return own_path || folder_end == std::string_view::npos ? path : path.substr(0, folder_end);
}

void SummaryOutput::entry(const Entry& entry) {
    summary_.entry_listed(entry.reasons, entry.lengths,
                          counted_folder(entry.kind, entry.reasons, entry.path));
}

std::string SummaryOutput::render(const ScanReport& report, int descriptor) const {
    const bool terminal = platform::stream_is_terminal(descriptor);
    return (report.backup_rights ? "read with backup rights\n" : "") +
           summary_.render(report.folders_read(), report.unreadable(), terminal,
                           terminal ? terminal_width(descriptor) : 80);
}

}  // namespace kestrafin::scan
