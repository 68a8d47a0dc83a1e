// The status line under the list, which tells how the last search or reload
// ended, from the scan's report (scan/report.h): folders read, folders not
// entered (loops, folders already walked through a link, kernel file
// systems, folders the system keeps to itself), folders that could not be
// read (the first few with their reasons), and why the root itself could not
// be walked.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "scan/report.h"

namespace kestrafin::window {

// The status line: "2418 folders read in 8.2 s", then ", stopped", ", 3
// could not be read" and ", 2 not entered" where they apply.
std::string status_line_text(const scan::ScanReport& report);
// Its tool tip: the first folders that could not be read, one a line with its
// reason, and how many more; empty when every folder was read. Paths show as
// one line each (one_line_text.h).
std::string status_tip_text(const scan::ScanReport& report);
// The message for a root that could not be opened: the folder, on one line
// (one_line_text.h), and the reason.
std::string root_failure_text(std::string_view root, int error);
// The status line after a reload: where the list came from, on one line
// (one_line_text.h), and when that file was saved (`saved_at` as the face's
// clock shows it; empty when unknown).
std::string reload_status_text(std::string_view file, std::string_view saved_at);
// The status line after an export: how many paths went to which file, on
// one line (one_line_text.h).
std::string export_status_text(std::string_view file, std::size_t paths);
// "8.2 s" below a minute, "2 min 05 s" above.
std::string elapsed_text(std::chrono::milliseconds elapsed);

}  // namespace kestrafin::window
