#include "search/walk_rules.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrafin::search {

bool WalkRules::admit(const FolderListing& listing, const FolderRoute& route,
                      std::string_view directory) {
    if (listing.on_kernel_file_system) {
        sink_.kernel_file_system_skipped(directory);
        return false;
    }
    const bool known = listing.identity.known();
    if (known && descent_.contains(listing.identity)) {
        sink_.cycle_skipped(directory);
        return false;
    }
    // Below a link every folder is checked, plain ones too: a plain folder
    // under a link to a shallow level may be one that a link to a deeper
    // level walked already, and links to each level of a chain would
    // otherwise walk it once per link.
    if (known && route.below_link && !walked_below_links_.insert(listing.identity).second) {
        sink_.link_web_skipped(directory);
        return false;
    }
    return true;
}

void WalkRules::hand_on_files(const FolderListing& listing, std::string& path,
                              std::size_t slashed_length) {
    path.resize(slashed_length);
    for (const ListedName& file : listing.files)
        hand_on_file(listing.name_of(file), path, slashed_length);
}

void WalkRules::folder_read(const FolderListing& listing, std::string_view directory) {
    sink_.folder_listed(directory, listing);
    if (listing.read_error) sink_.folder_unreadable(directory, listing.read_error.value());
    sink_.folder_done(directory);
}

bool WalkRules::renumbered(const FolderListing& read, const FolderListing& reread) const {
    if (!read.identity.known() || !reread.identity.known() ||
        read.identity.volume != reread.identity.volume || reread.read_error ||
        descent_.contains(reread.identity))
        return false;
    // The host may deliver the names in another order the second time; the
    // folders a walk left out count too, as it reads again without leaving out.
    const auto sorted = [](const FolderListing& listing) {
        std::vector<std::pair<std::string_view, platform::EntryKind>> names;
        names.reserve(listing.subfolders.size());
        for (const ListedName& name : listing.subfolders)
            names.emplace_back(listing.name_of(name), name.kind);
        for (const ListedName& name : listing.excluded)
            if (name.kind == platform::EntryKind::folder ||
                name.kind == platform::EntryKind::link_to_folder)
                names.emplace_back(listing.name_of(name), name.kind);
        std::sort(names.begin(), names.end());
        return names;
    };
    return sorted(read) == sorted(reread);
}

bool WalkRules::reopened_is_read(platform::Folder& reopened, const FolderListing& read,
                                 platform::FolderIdentity& identity) {
    std::error_code error;
    if (reopened.identity(error) == identity) return true;
    FolderListing reread;
    read_folder_listing(reopened,
                        {.parent_volume = identity.volume,
                         .keep_files = false,
                         .exclusion = nullptr,
                         .below_root = {}},
                        reread);
    if (!renumbered(read, reread)) return false;
    descent_.erase(identity);
    descent_.insert(reread.identity);
    identity = reread.identity;
    return true;
}

void WalkRules::descend(const platform::FolderIdentity& identity) {
    if (identity.known()) descent_.insert(identity);
}

void WalkRules::ascend(const platform::FolderIdentity& identity) {
    descent_.erase(identity);
}

}  // namespace kestrafin::search
