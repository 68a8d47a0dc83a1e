// The figures kestrafin-scan gives after a walk with --summary: how much it
// read, how many entries each rule listed, the longest paths and how the
// lengths of all paths are spread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scan/reasons.h"
#include "scan/report.h"
#include "scan/rules/length_rules.h"
#include "scan/sink.h"

namespace kestrafin::scan {

inline constexpr std::size_t kLongestShown = 10;
inline constexpr std::size_t kBandWidth = 20;
// Paths longer than this share the last band, so that a tree of endless depth
// still gives a chart of a few dozen lines.
inline constexpr std::size_t kLongestBanded = 1000;
inline constexpr std::size_t kFoldersToActOn = 10;

// The band a path of `path_length` units falls in: 0 for 1 to 20 units (and
// an empty path), 1 for 21 to 40, and so on up to the open-ended last one.
inline constexpr std::size_t length_band(std::size_t path_length) {
    return path_length == 0
               ? 0
               : ((path_length < kLongestBanded + 1 ? path_length : kLongestBanded + 1) - 1) /
                     kBandWidth;
}

// A folder that holds entries past a length rule somewhere below it.
struct FolderToActOn {
    std::string path;
    std::size_t entries = 0;        // below it, at any depth, past a length rule
    std::size_t units_to_lose = 0;  // its path's, for every one of them to fit
};

class ScanSummary {
  public:
    // `slashed_root` is where the walk began, with its separator; the
    // folders to act on lie below it.
    explicit ScanSummary(const LengthRules& rules, std::string slashed_root = {})
        : rules_(rules), slashed_root_(std::move(slashed_root)) {}

    // Every file the walk hands on, listed or not, with its path as the
    // output shows it and that path's length.
    void file_seen(std::string_view shown_path, std::size_t path_length);
    // Every entry written, with the rules it breaks, its lengths and the path
    // of the folder it lies in. Entries come in the walk's order, depth first.
    void entry_listed(Reasons reasons, const EntryLengths& lengths, std::string_view folder);
    // A folder that held too many names to check them for collisions.
    void collisions_unchecked() { ++collisions_unchecked_; }
    // Takes in what `other`, the summary of a root walked after those this
    // one holds, counted: the figures of several roots together.
    void add(const ScanSummary& other);

    // The summary as text. `terminal` draws the histogram as bars fitting
    // `width` columns and quotes names as entries are shown on a terminal, so
    // that no name can steer it.
    std::string render(std::size_t folders_read, std::size_t folders_unreadable, bool terminal,
                       std::size_t width) const;

    std::size_t files_seen() const { return files_seen_; }
    // The longest paths, longest first; of equal lengths the one seen first.
    const std::vector<std::pair<std::size_t, std::string>>& longest() const { return longest_; }
    // How many paths have 1 to 20 units, 21 to 40 and so on; the last band
    // possible holds every path longer than kLongestBanded.
    const std::vector<std::size_t>& bands() const { return bands_; }
    // The folders below the root with the most entries past a length rule,
    // most first; of equal counts, the one with the fewest units to lose
    // first, then by path.
    std::vector<FolderToActOn> folders_to_act_on() const;
    // The bytes it holds: a few times the longest path kept, whatever the
    // depth of the tree.
    std::size_t held_bytes() const;

  private:
    LengthRules rules_;
    std::size_t files_seen_ = 0;
    std::size_t listed_ = 0;
    std::size_t listed_by_folder_ = 0;
    std::size_t listed_by_file_ = 0;
    std::size_t collisions_unchecked_ = 0;
    std::size_t by_reason_[kMostReasons] = {};
    std::string slashed_root_;
    // The folders from the root down to the folder of the last entry past a
    // length rule. Each is the start of the deepest one's path, so a deep
    // tree keeps one path, not one per level; and each counts the entries in
    // it and in the links below it that the walk has left.
    struct ChainLink {
        std::size_t path_end = 0;
        std::size_t entries = 0;
        std::size_t units_to_lose = 0;
    };
    std::string chain_path_;
    std::vector<ChainLink> chain_;
    // The best of the folders the walk has left behind.
    std::vector<FolderToActOn> acted_on_;
    void leave_folders_above(std::string_view folder);
    void keep_longest(std::size_t path_length, std::string_view path);
    static void keep_best(std::vector<FolderToActOn>& best, std::string_view path,
                          std::size_t entries, std::size_t units_to_lose);
    std::vector<std::pair<std::size_t, std::string>> longest_;
    std::vector<std::size_t> bands_;
};

// The folder `entry` counts in: the one it lies in, or a folder or a link
// past a length rule by its own path itself.
std::string_view counted_folder(EntryKind kind, Reasons reasons, std::string_view path);

// The summary as a sink: it sees every file the walk reads.
class SummaryOutput : public Sink {
  public:
    // `print_target` names paths at the target, as the lines then show them.
    SummaryOutput(const LengthRules& rules, std::string slashed_root, bool print_target)
        : summary_(rules, std::move(slashed_root)), print_target_(print_target) {}

    bool sees_every_file() const override { return true; }
    bool needs_lengths() const override { return true; }
    void file_seen(const Entry& file) override;
    void entry(const Entry& entry) override;
    void names_unchecked(std::string_view /*folder*/) override { summary_.collisions_unchecked(); }

    // The summary of the scan `report` tells of, for `descriptor`: drawn for
    // a terminal when it is one.
    std::string render(const ScanReport& report, int descriptor) const;
    const ScanSummary& summary() const { return summary_; }

  private:
    ScanSummary summary_;
    bool print_target_;
};

}  // namespace kestrafin::scan
