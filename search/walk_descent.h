// A depth-first walk part way through: the folders of the current descent,
// their listings and how far the walk has come below each. The walk on one
// thread keeps it; when its reads turn out to wait for the host, it hands the
// descent to the walk with read-ahead, which goes on from there.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "platform/folder_reader.h"
#include "search/descriptor_budget.h"
#include "search/folder_listing.h"
#include "search/searchfiles.h"
#include "search/walk_rules.h"

namespace kestrafin::search {

// One folder of the descent whose subfolders are still being walked.
struct DescentFrame {
    platform::Folder folder;  // closed by the descriptor budget when far from the deepest level
    FolderListing listing;
    std::size_t next_subfolder = 0;  // subfolders before it have been walked
    std::size_t slashed_length = 0;  // bytes of the walk's path up to its separator
    std::size_t slashed_units = 0;   // the same in UTF-16 code units
    FolderRoute route;
};

struct Descent {
    Descent(SearchSink& sink, std::size_t open_folders) : budget(open_folders), rules(sink) {}

    std::string_view root;            // the folder the walk began at, as given
    std::string path;                 // the slashed path of the deepest folder, and scratch
    std::deque<DescentFrame> frames;  // [0, depth) is the descent; deeper ones are kept for reuse
    std::size_t depth = 0;
    DescriptorBudget budget;  // which frames of the descent hold an open folder
    WalkRules rules;          // with the descent's folders and those walked below links

    // The directory string of the folder at depth `at` of the descent.
    std::string_view directory_of(std::size_t at) const {
        if (at == 0) return root;
        return std::string_view(path).substr(0, frames[at].slashed_length - 1);
    }
};

}  // namespace kestrafin::search
