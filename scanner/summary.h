// The figures kestrafin-scan gives after a walk with --summary: how much it
// read, how many entries each rule listed, the longest paths and how the
// lengths of all paths are spread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scanner/length_rules.h"

namespace kestrafin::scanner {

inline constexpr std::size_t kLongestShown = 10;
inline constexpr std::size_t kBandWidth = 20;
// Paths longer than this share the last band, so that a tree of endless depth
// still gives a chart of a few dozen lines.
inline constexpr std::size_t kLongestBanded = 1000;

class ScanSummary {
  public:
    explicit ScanSummary(const LengthRules& rules) : rules_(rules) {}

    // Every file the walk hands on, listed or not, with its path as the
    // output shows it and that path's length.
    void file_seen(std::string_view shown_path, std::size_t path_length);
    // Every entry written, with the rules it breaks.
    void entry_listed(const Verdict& verdict);

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

  private:
    LengthRules rules_;
    std::size_t files_seen_ = 0;
    std::size_t listed_ = 0;
    std::size_t listed_by_folder_ = 0;
    std::size_t listed_by_file_ = 0;
    std::vector<std::pair<std::size_t, std::string>> longest_;
    std::vector<std::size_t> bands_;
};

}  // namespace kestrafin::scanner
