// The walk entered at a link that another traversal of the same folders met
// (one that reads a volume's table instead of opening folders): the walk's
// own rules decide on the link and on all below it, as on a link it met
// itself, knowing the folders the traversal is inside and those already
// walked through its other links.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/folders.h"
#include "search/searchfiles.h"
#include "search/walk_rules.h"
#include "search/walk_visitor.h"

namespace kestrafin::search {

struct WalkAbove {
    // The folders the link lies in and below, by their host identities,
    // outermost first; those whose identity is not known are left out.
    std::vector<platform::FolderIdentity> descent;
    // The traversal's root volume, for options.one_file_system.
    std::optional<std::uint64_t> root_volume;
    std::size_t links = 0;          // links followed above the link
    bool marked_by_system = false;  // the host's mark on the link, as its parent lists it
    // Shared by every walk of the traversal's links; made when null.
    std::shared_ptr<LinkMemory> walked_through_links;
};

// Walks the link `link` (its directory string, a host path) as the walk
// enters a link to a folder: not at all when its rules decline it (a cycle,
// a web of links, another volume), told to `visitor` as the walk tells it.
void searchfiles_through_link(std::string_view link, WalkVisitor& visitor,
                              const SearchOptions& options, const WalkAbove& above);

}  // namespace kestrafin::search
