#include "window/status_line.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "platform/files.h"
#include "platform/path_rules.h"
#include "platform/text.h"
#include "search/declined_folders.h"
#include "window/one_line_text.h"
#include "window/shown_row.h"
#include "window/tip_lines.h"
#include "window/window_design.h"

namespace kestrafin::window {

std::string reason_text(int error) {
    std::string text = platform::error_text({error, std::system_category()});
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

std::string window_reason(search::NotEntered reason) {
    // The scanner's words name its own options, which the window has none of.
    if (reason == search::NotEntered::offline)
        return "it is offline (in the cloud), and reading it would fetch it";
    return search::not_entered_reason(reason);
}

std::string elapsed_text(std::chrono::milliseconds elapsed) {
    const long long tenths = (elapsed.count() + 50) / 100;
    char text[48];
    if (tenths < 600) {
        std::snprintf(text, sizeof text, "%lld.%lld s", tenths / 10, tenths % 10);
    } else {
        const long long seconds = (elapsed.count() + 500) / 1000;
        std::snprintf(text, sizeof text, "%lld min %02lld s", seconds / 60, seconds % 60);
    }
    return text;
}

namespace {

// The count of folders: "1 folder", "2418 folders".
std::string folders(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " folder" : " folders");
}


// The text `before`, `path` and `after` as a tip shows it: at most
// kLongestTip units of the path (already as one line shows it), in lines of
// at most kTipLine units broken after a separator where one lies in the
// line's second half. A tip wider than the screen shows nothing of what runs
// past its edge.
std::string tip_text(std::string_view before, std::string_view path, std::string_view after) {
    const std::string bounded = std::string(before) +
                                shown_row_text(path, platform::kPathSeparator, kLongestTip) +
                                std::string(after);
    const std::u16string units = platform::utf16_from_utf8(bounded);
    // One line keeps its bytes; broken lines show them as the face would.
    if (units.size() <= kTipLine) return bounded;
    return platform::utf8_from_utf16(
        tip_lines(units, static_cast<char16_t>(platform::kPathSeparator), u"\n"));
}

// The starts of the code points of `text`, and its end.
std::vector<std::size_t> code_point_starts(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < text.size();) {
        starts.push_back(at);
        const std::size_t length = platform::decode_utf8(text.substr(at)).length;
        at += length == 0 ? 1 : length;
    }
    starts.push_back(text.size());
    return starts;
}

// `path` with `kept` of its code points, `starts` from code_point_starts():
// its last separator and the name after it, and as much of the folder
// before them as is left, from its start and its end alike; or the end of
// the name where nothing is left.
std::string shortened(std::string_view path, const std::vector<std::size_t>& starts,
                      std::size_t kept) {
    const std::size_t count = starts.size() - 1;
    if (kept >= count) return std::string(path);
    const std::size_t separator = path.find_last_of(platform::kPathSeparator);
    std::size_t name = 0;
    if (separator != std::string_view::npos)
        while (name < count && starts[count - name - 1] >= separator) ++name;
    std::size_t head = 0, tail = kept;
    if (kept > name) {
        const std::size_t folder = kept - name;
        head = folder - folder / 2;
        tail = name + folder / 2;
    }
    return std::string(path.substr(0, starts[head])) + std::string(kElision) +
           std::string(path.substr(starts[count - tail]));
}

}  // namespace

std::string StatusText::tip() const {
    if (wordings.empty()) return {};
    const StatusWording& fullest = wordings[0];
    return design::status_tip(tip_text(fullest.before, fullest.path, fullest.after), added_tip);
}

std::string fitted_status(const StatusText& status, const FitsLine& fits) {
    if (status.wordings.empty()) return {};
    for (const StatusWording& wording : status.wordings) {
        std::string text = wording.whole();
        if (fits(text)) return text;
    }
    const StatusWording& last = status.wordings.back();
    const std::vector<std::size_t> starts = code_point_starts(last.path);
    const auto with = [&](std::size_t kept) {
        return last.before + shortened(last.path, starts, kept) + last.after;
    };
    // The most code points kept that fit: a path that keeps fewer is never
    // wider. The whole path did not fit. Tried from a few up, doubling, so
    // that a path of thousands is never laid out whole for a line of dozens.
    std::size_t fitting = 0, too_many = starts.size() - 1;
    for (std::size_t trying = 8; trying < too_many; trying *= 2) {
        if (!fits(with(trying))) {
            too_many = trying;
            break;
        }
        fitting = trying;
    }
    while (too_many - fitting > 1) {
        const std::size_t middle = fitting + (too_many - fitting) / 2;
        if (fits(with(middle)))
            fitting = middle;
        else
            too_many = middle;
    }
    return with(fitting);
}

StatusText search_status(const scan::ScanReport& report) {
    const std::string read = folders(report.folders_read());
    const std::string elapsed = elapsed_text(report.elapsed);
    std::string full = read + " read in " + elapsed;
    std::string brief = read + ", " + elapsed;
    const auto add = [&](const std::string& both_say, const std::string& brief_says) {
        full += both_say;
        brief += brief_says;
    };
    if (report.stopped) add(", stopped", ", stopped");
    const std::string unreadable = std::to_string(report.unreadable());
    if (report.unreadable() > 0)
        add(", " + unreadable + " could not be read", ", " + unreadable + " unreadable");
    // Kernel file systems count: the user sees each folder the search passed by.
    const std::size_t declined = report.declined().with_kernel_file_systems();
    if (declined > 0) {
        const std::string not_entered = ", " + std::to_string(declined) + " not entered";
        add(not_entered, not_entered);
    }
    std::string tip;
    const auto list = [&tip](const char* heading, const auto& named, std::size_t total,
                             const auto& line) {
        if (total == 0) return;
        if (!tip.empty()) tip += "\n\n";
        tip += heading;
        for (const auto& folder : named) tip += "\n" + line(folder);
        if (total > named.size()) tip += "\nand " + std::to_string(total - named.size()) + " more";
    };
    list("Could not be read:", report.first_unreadable(), report.unreadable(),
         [](const scan::UnreadableFolder& folder) {
             return tip_text({}, folder.path, ": " + reason_text(folder.error));
         });
    list("Not entered:", report.first_not_entered(), declined,
         [](const scan::NotEnteredFolder& folder) {
             return tip_text({}, folder.path, ": " + window_reason(folder.reason));
         });
    return {{{std::move(full), {}, {}}, {std::move(brief), {}, {}}}, std::move(tip)};
}

std::string status_line_text(const scan::ScanReport& report) {
    return search_status(report).whole();
}

std::string status_tip_text(const scan::ScanReport& report) {
    return search_status(report).added_tip;
}

StatusText progress_status(std::size_t folders_read, std::string_view folder) {
    return {{{folders(folders_read) + " read, now in ", one_line_text(folder), {}}}, {}};
}

StatusText reload_status(std::string_view file, std::string_view saved_at) {
    const std::string shown = one_line_text(file);
    if (saved_at.empty()) return {{{"Reloaded from ", shown, {}}}, {}};
    const std::string at(saved_at);
    return {{{"Reloaded from ", shown, ", saved " + at},
             {"Saved " + at + ", reloaded from ", shown, {}}},
            {}};
}

StatusText saved_status(std::string_view file, std::string_view saved_at) {
    const std::string shown = one_line_text(file);
    if (saved_at.empty()) return {{{"Saved to ", shown, {}}}, {}};
    const std::string at(saved_at);
    return {{{"Saved to ", shown, " at " + at}, {"Saved at " + at + " to ", shown, {}}}, {}};
}

StatusText export_status(std::string_view file, std::size_t paths) {
    const std::string count = std::to_string(paths) + (paths == 1 ? " path" : " paths");
    return {{{"Exported " + count + " to ", one_line_text(file), {}}}, {}};
}

std::string root_failure_text(std::string_view root, int error) {
    // A direction override in the root would turn the reason after it around.
    return "The folder \"" + one_line_text(root) + "\" cannot be searched: " + reason_text(error) +
           ".";
}

}  // namespace kestrafin::window
