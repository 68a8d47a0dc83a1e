#include "scanner/summary.h"

#include <algorithm>
#include <cstdio>

#include "scanner/terminal_quote.h"

namespace kestrafin::scanner {

namespace {

std::string figure_line(std::string_view label, std::size_t value) {
    return std::string(label) + ": " + std::to_string(value) + "\n";
}

}  // namespace

void ScanSummary::file_seen(std::string_view shown_path, std::size_t path_length) {
    ++files_seen_;
    const std::size_t band =
        path_length == 0 ? 0 : (std::min(path_length, kLongestBanded + 1) - 1) / kBandWidth;
    if (bands_.size() <= band) bands_.resize(band + 1);
    ++bands_[band];

    if (longest_.size() == kLongestShown && path_length <= longest_.back().first) return;
    // After every path of the same length, so the first seen stays first.
    const auto at =
        std::upper_bound(longest_.begin(), longest_.end(), path_length,
                         [](std::size_t length, const auto& kept) { return length > kept.first; });
    longest_.emplace(at, path_length, std::string(shown_path));
    if (longest_.size() > kLongestShown) longest_.pop_back();
}

void ScanSummary::entry_listed(const Verdict& verdict) {
    ++listed_;
    listed_by_folder_ += verdict.by_folder;
    listed_by_file_ += verdict.by_file;
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

}  // namespace kestrafin::scanner
