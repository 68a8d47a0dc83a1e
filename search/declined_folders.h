// The folders a walk did not enter although they may hold user files, counted
// by reason, so that a caller can say so once the walk has ended: nothing is
// left out without a word.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrafin::search {

// Why a folder is not entered. A loop, a web of links and a kernel file
// system are told once the folder is opened and its identity known; for the
// user's safety, the caller's choice or the host's own, the walk never opens
// the folder, nor does any reader ahead of it.
enum class NotEntered : std::uint8_t {
    cycle,     // one the walk is inside, reached again through a link or a mount
    link_web,  // reached through a link, and already walked through a link
    // On a kernel file system (proc, sysfs, ...), which holds no user files:
    // its names are not read, and the walk enters it only on its way to other
    // file systems mounted below it.
    kernel_file_system,
    other_machine,  // a link to another machine than the root's: opening it signs in there
    offline,        // its names lie in the cloud, and reading them would fetch them
    link,           // a link to a folder, when links are not followed
    other_volume,   // on another volume than the root, when the walk stays on the root's
    // A folder the host marks as its own (Windows: hidden and system, as the
    // old profile junctions, "System Volume Information" and other users'
    // recycle bins are) that it refused to open: no failure. One the host
    // does not mark so is unreadable.
    system_folder,
    // Where the host cannot tell folders' identities (a share that gives
    // every file the ID 0): a folder reached through a link whose resolved
    // path is that of a folder the walk is inside, or one reached through
    // more than kMostLinksWithoutIdentity links on the way down.
    path_cycle,
    too_many_links,
};
inline constexpr std::size_t kNotEnteredReasons =
    static_cast<std::size_t>(NotEntered::too_many_links) + 1;

class DeclinedFolders {
  public:
    void count(NotEntered reason) { ++counts_[static_cast<std::size_t>(reason)]; }
    std::size_t of(NotEntered reason) const { return counts_[static_cast<std::size_t>(reason)]; }
    // Folders not entered that may hold user files: every reason but a
    // kernel file system.
    std::size_t total() const;
    // Every folder not entered, kernel file systems included.
    std::size_t with_kernel_file_systems() const {
        return total() + of(NotEntered::kernel_file_system);
    }

  private:
    std::array<std::size_t, kNotEnteredReasons> counts_{};
};

// "3 folders not entered: 2 leading back into the walk, 1 already walked
// through a link"; empty when none that may hold user files was declined.
std::string declined_text(const DeclinedFolders& declined);

// Why one folder was not entered, for a line that names it: "it is a link
// to another machine".
const char* not_entered_reason(NotEntered reason);

}  // namespace kestrafin::search
