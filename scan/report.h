// How a scan went besides the entries it listed: folders read, the folders
// it could not read (the first few with their reasons), the folders it did
// not enter by reason (the first few named), why the root itself could not be walked, and how long
// it took. Both programs tell how a scan ended from this alone.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/declined_folders.h"

namespace kestrafin::scan {

struct UnreadableFolder {
    std::string path;
    int error = 0;  // the host's error number
};

struct NotEnteredFolder {
    std::string path;
    search::NotEntered reason;
};

// How a scan ended.
enum class ScanEnd {
    complete,         // every folder it entered was read
    incomplete,       // some folder could not be read, or memory ran out
    root_not_walked,  // the root could not be opened, or was not entered
};

class ScanReport {
  public:
    // Folders named with their reasons, of those unreadable and of those not
    // entered; the rest are only counted.
    static constexpr std::size_t kNamedUnreadable = 5;
    static constexpr std::size_t kNamedNotEntered = 5;

    explicit ScanReport(std::string root) : root_(std::move(root)) {}

    // Told by the scan as the walk goes.
    void folder_done() { ++folders_read_; }
    void files_found(std::size_t files) { files_seen_ += files; }
    void entry_listed() { ++entries_; }
    void folder_unreadable(std::string_view directory, int error);
    void folder_not_entered(std::string_view directory, search::NotEntered reason);

    std::size_t folders_read() const { return folders_read_; }
    // The files of the folders read, those the rules let pass included.
    std::size_t files_seen() const { return files_seen_; }
    std::size_t entries() const { return entries_; }
    std::size_t unreadable() const { return unreadable_; }
    const std::vector<UnreadableFolder>& first_unreadable() const { return named_; }
    const search::DeclinedFolders& declined() const { return declined_; }
    // The first folders not entered, kernel file systems included, in the
    // walk's order.
    const std::vector<NotEnteredFolder>& first_not_entered() const { return named_declined_; }
    // The host's error number when the root could not be opened or read at
    // all; none once any folder was read, the root in part included.
    std::optional<int> root_error() const;
    ScanEnd end() const;

    bool backup_rights = false;  // read with backup rights
    // The volume whose table the events came from ("\\.\C:", an image);
    // empty for a walk.
    std::string volume;
    // Why the root was not walked when no walk was tried (a volume that
    // cannot be read); empty otherwise.
    std::string refused;
    bool out_of_memory = false;  // the walk ended early for want of memory
    bool stopped = false;        // the walk ended early on request
    std::chrono::milliseconds elapsed{0};

  private:
    std::string root_;
    std::size_t folders_read_ = 0;
    std::size_t files_seen_ = 0;
    std::size_t entries_ = 0;
    std::size_t unreadable_ = 0;
    std::vector<UnreadableFolder> named_;
    std::optional<int> first_root_error_;
    search::DeclinedFolders declined_;
    std::vector<NotEnteredFolder> named_declined_;
};

}  // namespace kestrafin::scan
