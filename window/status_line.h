// The status line under the list, which tells how the last search, save or
// reload ended, and how far a running search has come: from the scan's
// report (scan/report.h) folders read, folders not entered (loops, folders
// already walked through a link, kernel file systems, folders the system
// keeps to itself) and folders that could not be read, the first few of
// each with their reasons in the tip, and why the root itself could not be
// walked.
//
// The line is one line of a fixed width, and a path in it may be of any
// length: each status comes in wordings, the fullest first, and shows in the
// first that fits whole, or else in the last with its path shortened in the
// middle. No word is ever cut; the tip holds the fullest wording whole.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/report.h"

namespace kestrafin::window {

// One way of saying a status: words around at most one path (as one line
// shows it, one_line_text.h), which may be shortened in its middle.
struct StatusWording {
    std::string before;
    std::string path;
    std::string after;
    std::string whole() const { return before + path + after; }
};

// A status: its wordings, the fullest first, and what its tip adds below the
// fullest (empty: nothing).
struct StatusText {
    std::vector<StatusWording> wordings;
    std::string added_tip;
    // The fullest wording whole; empty for no status.
    std::string whole() const { return wordings.empty() ? std::string() : wordings[0].whole(); }
    // The tip: the fullest wording and below it what is added, each path in
    // it bounded and broken into lines as a row's tip is (tip_lines.h).
    std::string tip() const;
};

// Whether a text stands whole on the status line, as the face measures it.
using FitsLine = std::function<bool(std::string_view text)>;

// The text the line shows: the first wording that fits whole; else the last
// one with its path shortened in the middle (kElision between its start and
// its end, the file or folder name at its end kept while it can be) to the
// longest that fits; else the last with nothing of its path but kElision.
std::string fitted_status(const StatusText& status, const FitsLine& fits);

// How a search ended: "2418 folders read in 8.2 s", then ", stopped", ", 3
// could not be read" and ", 2 not entered" where they apply; shorter "2418
// folders, 8.2 s, stopped, 3 unreadable, 2 not entered". The tip names the
// first folders that could not be read and those not entered, each with its
// reason, and how many more.
StatusText search_status(const scan::ScanReport& report);
// A running search: "1204 folders read, now in /srv/share/dept".
StatusText progress_status(std::size_t folders_read, std::string_view folder);
// After a reload: where the list came from and when that file was saved
// (`saved_at` as the face's clock shows it; empty when unknown); shorter, the
// time first.
StatusText reload_status(std::string_view file, std::string_view saved_at);
// After a save: where the list was saved and when.
StatusText saved_status(std::string_view file, std::string_view saved_at);
// After an export: how many paths went to which file.
StatusText export_status(std::string_view file, std::size_t paths);

// The fullest wordings and the tip's addition of search_status().
std::string status_line_text(const scan::ScanReport& report);
std::string status_tip_text(const scan::ScanReport& report);
// The message for a root that could not be opened: the folder, on one line
// (one_line_text.h), and the reason.
std::string root_failure_text(std::string_view root, int error);
// The host's words for an error number, without the line end and full stop
// some hosts put after them.
std::string reason_text(int error);
// Why the window did not enter a folder, in the window's words.
std::string window_reason(search::NotEntered reason);
// "8.2 s" below a minute, "2 min 05 s" above.
std::string elapsed_text(std::chrono::milliseconds elapsed);

}  // namespace kestrafin::window
