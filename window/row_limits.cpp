#include "window/row_limits.h"

#include <algorithm>
#include <cstddef>
#include <span>

#include "scan/rules/check_profiles.h"
#include "scan/rules/folder_length.h"
#include "scan/rules/name_length.h"
#include "scan/rules/path_length.h"
#include "search/path_text.h"

namespace kestrafin::window {

namespace {

std::string_view profile_name(scan::Profile profile) {
    for (const scan::CheckProfile& known : scan::kCheckProfiles)
        if (known.id == profile) return known.name;
    return {};
}

// "Path over 259 units: windows; over 400: sharepoint, onedrive" for the
// limits of `uses` that `units` breaks, each with the profiles that set it;
// empty when it breaks none.
std::string broken(std::string_view what, std::size_t units,
                   std::span<const scan::ProfileUse<std::size_t>> uses) {
    std::string line;
    for (std::size_t at = 0; at < uses.size(); ++at) {
        const std::size_t limit = uses[at].setting;
        if (units <= limit) continue;
        // Each limit once, with every profile that sets it.
        bool seen = false;
        for (std::size_t before = 0; before < at; ++before) seen |= uses[before].setting == limit;
        if (seen) continue;
        line += line.empty() ? std::string(what) + " over " + std::to_string(limit) + " units: "
                             : "; over " + std::to_string(limit) + ": ";
        bool first = true;
        for (std::size_t same = at; same < uses.size(); ++same) {
            if (uses[same].setting != limit) continue;
            if (!first) line += ", ";
            line += profile_name(uses[same].profile);
            first = false;
        }
    }
    return line;
}

}  // namespace

std::string row_limits_text(std::string_view row, char separator) {
    // A tip is made at once however long the row: past a mebibyte its
    // lengths are only bounded, each UTF-16 unit taking at most 3 bytes.
    constexpr std::size_t kMeasuredBytes = std::size_t{1} << 20;
    const auto units = [](std::string_view text) {
        return text.size() > kMeasuredBytes ? kMeasuredBytes / 3 : search::utf16_length(text);
    };
    const auto said = [&](std::string_view text) {
        return (text.size() > kMeasuredBytes ? "more than " : "") + std::to_string(units(text));
    };
    const std::size_t cut = row.rfind(separator);
    const std::string_view folder = row.substr(0, cut == std::string_view::npos ? 0 : cut);
    std::size_t longest_name = 0;
    for (std::size_t start = 0; start <= row.size();) {
        const std::size_t end = std::min(row.find(separator, start), row.size());
        longest_name = std::max(longest_name, units(row.substr(start, end - start)));
        start = end + 1;
    }
    std::string text = said(row) + " units, its folder " + said(folder);
    for (const std::string& line : {broken("Path", units(row), scan::kPathLongerThan),
                                    broken("Folder", units(folder), scan::kFolderLongerThan),
                                    broken("A name", longest_name, scan::kNameLongerThan)})
        if (!line.empty()) text += "\n" + line;
    return text;
}

}  // namespace kestrafin::window
