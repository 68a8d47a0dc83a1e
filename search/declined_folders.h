// The folders a walk did not enter although they may hold user files, counted
// by reason, so that a caller can say so once the walk has ended: nothing is
// left out without a word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrafin::search {

// Why a folder is left unentered for the user's safety or by the caller's
// choice; the walk never opens it, nor does any reader ahead of it.
enum class NotEntered : std::uint8_t {
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

struct DeclinedFolders {
    std::size_t cycles = 0;     // links and mounts leading back into the walk
    std::size_t link_webs = 0;  // folders already walked through a link
    std::size_t other_machines = 0;
    std::size_t offline = 0;
    std::size_t links = 0;
    std::size_t other_volumes = 0;
    // Where folders have no identity: links whose resolved path the walk is
    // inside, and folders below too many links.
    std::size_t path_cycles = 0;
    std::size_t too_many_links = 0;
    std::size_t system_folders = 0;  // marked by the system as its own, and refused

    void count(NotEntered reason);
    std::size_t total() const {
        return cycles + link_webs + other_machines + offline + links + other_volumes +
               path_cycles + too_many_links + system_folders;
    }
};

// "3 folders not entered: 2 leading back into the walk, 1 already walked
// through a link"; empty when none was declined.
std::string declined_text(const DeclinedFolders& declined);

// Why one folder was not entered, for a line that names it: "it is a link
// to another machine".
const char* not_entered_reason(NotEntered reason);

}  // namespace kestrafin::search
