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

    std::size_t total() const { return cycles + link_webs; }
};

// "3 folders not entered: 2 leading back into the walk, 1 already walked
// through a link"; empty when none was declined.
std::string declined_text(const DeclinedFolders& declined);

}  // namespace kestrafin::search
