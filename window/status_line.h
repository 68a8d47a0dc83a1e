// The status line under the list, which tells how the last search or reload
// ended. A search's WalkReport holds what the walk did besides finding
// entries: folders read, folders not entered (loops, folders already walked
// through a link, kernel file systems, folders the system keeps to itself), folders that could not be read (the
// first few with their reasons), and why the root itself could not be
// walked. The walk's sink fills it on the work thread; the window reads it
// only once the walk has ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrafin::window {

struct UnreadableFolder {
    std::string path;
    int error = 0;  // the host's error number
};

class WalkReport {
  public:
    // Folders named with their reasons; the rest are only counted.
    static constexpr std::size_t kNamedUnreadable = 5;

    explicit WalkReport(std::string root) : root_(std::move(root)) {}

    void folder_done() { ++folders_read_; }
    void folder_declined() { ++declined_; }
    void folder_unreadable(std::string_view directory, int error);

    std::size_t folders_read() const { return folders_read_; }
    std::size_t declined() const { return declined_; }
    std::size_t unreadable() const { return unreadable_; }
    const std::vector<UnreadableFolder>& first_unreadable() const { return named_; }
    // The host's error number when the root could not be opened at all.
    std::optional<int> root_error() const { return root_error_; }

  private:
    std::string root_;
    std::size_t folders_read_ = 0;
    std::size_t declined_ = 0;
    std::size_t unreadable_ = 0;
    std::vector<UnreadableFolder> named_;
    std::optional<int> root_error_;
};

// How a search ended, as the status line tells it.
struct SearchEnd {
    std::chrono::milliseconds elapsed{0};
    bool stopped = false;  // by Escape or "Stop"
};

// The status line: "2418 folders read in 8.2 s", then ", stopped", ", 3
// could not be read" and ", 2 not entered" where they apply.
std::string status_line_text(const WalkReport& report, const SearchEnd& end);
// Its tool tip: the first folders that could not be read, one a line with its
// reason, and how many more; empty when every folder was read. Paths show as
// one line each (one_line_text.h).
std::string status_tip_text(const WalkReport& report);
// The message for a root that could not be opened: the folder, on one line
// (one_line_text.h), and the reason.
std::string root_failure_text(std::string_view root, int error);
// The status line after a reload: where the list came from, on one line
// (one_line_text.h), and when that file was saved (`saved_at` as the face's
// clock shows it; empty when unknown).
std::string reload_status_text(std::string_view file, std::string_view saved_at);
// "8.2 s" below a minute, "2 min 05 s" above.
std::string elapsed_text(std::chrono::milliseconds elapsed);

}  // namespace kestrafin::window
