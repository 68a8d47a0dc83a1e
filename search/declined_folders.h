// The folders a walk did not enter although they may hold user files, counted
// by reason, so that a caller can say so once the walk has ended: nothing is
// left out without a word.
#pragma once

#include <cstddef>
#include <string>

namespace kestrafin::search {

struct DeclinedFolders {
    std::size_t cycles = 0;     // links and mounts leading back into the walk
    std::size_t link_webs = 0;  // folders already walked through a link
    // Where folders have no identity: links whose resolved path the walk is
    // inside, and folders below too many links.
    std::size_t path_cycles = 0;
    std::size_t too_many_links = 0;
    std::size_t system_folders = 0;  // marked by the system as its own, and refused

    std::size_t total() const {
        return cycles + link_webs + path_cycles + too_many_links + system_folders;
    }
};

// "3 folders not entered: 2 leading back into the walk, 1 already walked
// through a link"; empty when none was declined.
std::string declined_text(const DeclinedFolders& declined);

}  // namespace kestrafin::search
