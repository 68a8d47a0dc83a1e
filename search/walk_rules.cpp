#include "search/walk_rules.h"

#include "platform/path_rules.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrafin::search {

bool WalkRules::admit(const FolderListing& listing, const FolderRoute& route,
                      std::string_view directory) {
    leaving_out_here_ = false;
    if (listing.on_kernel_file_system) {
        sink_.kernel_file_system_skipped(directory);
        // Entered only on the way to mounts of other file systems below it.
        return !listing.subfolders.empty();
    }
    if (!listing.identity.known()) return admit_without_identity(listing, route, directory);
    // A plain folder on the same mount as its parent cannot close a cycle,
    // whatever number the file system gives it: some reuse numbers, and
    // only links and mounts lead back up.
    const bool may_lead_back = route.entered_through_link || listing.mount_root;
    if (may_lead_back && descent_.contains(listing.identity)) {
        sink_.cycle_skipped(directory);
        return false;
    }
    if (route.below_link && !admit_below_link(listing.identity, may_lead_back, directory)) {
        sink_.link_web_skipped(directory);
        return false;
    }
    leaving_out_here_ = left_out_ && left_out_->folder == listing.identity;
    return true;
}

// Below a link every folder walked is recorded, plain ones too: a plain
// folder under a link to a shallow level may be one that a link to a deeper
// level walked already, and links to each level of a chain would otherwise
// walk it once per link. A folder entered through a link or at a mount is
// declined when its number was walked at all; a plain folder only when the
// number was the target of a link it is not below, or comes again under the
// same name, since a file system may give one number to many folders.
bool WalkRules::admit_below_link(const platform::FolderIdentity& identity, bool may_lead_back,
                                 std::string_view directory) {
    const std::size_t separator = directory.find_last_of(platform::kPathSeparator);
    const std::string_view name =
        separator == std::string_view::npos ? directory : directory.substr(separator + 1);
    const NamedIdentity named{identity, std::hash<std::string_view>()(name)};
    if (may_lead_back) {
        if (walked_below_links_.contains(identity)) return false;
        link_targets_.insert(identity);
    } else if ((link_targets_.contains(identity) && !descent_.contains(identity)) ||
               !walked_by_name_.insert(named).second) {
        // A plain folder with the number of a folder it lies below is one
        // more folder of a file system that reuses numbers.
        return false;
    }
    walked_below_links_.insert(identity);
    walked_by_name_.insert(named);
    return true;
}

// Without identities the web of links cannot be told, only a loop: by the
// resolved path when the host gives one, and by the number of links when the
// same folder shows under another path (a share reached under two names).
bool WalkRules::admit_without_identity(const FolderListing& listing, const FolderRoute& route,
                                       std::string_view directory) {
    if (!route.entered_through_link && !listing.mount_root) return true;
    if (!listing.resolved_path.empty() &&
        std::find(descent_paths_.begin(), descent_paths_.end(), listing.resolved_path) !=
            descent_paths_.end()) {
        sink_.path_cycle_skipped(directory);
        return false;
    }
    if (route.links > kMostLinksWithoutIdentity) {
        sink_.link_depth_skipped(directory);
        return false;
    }
    return true;
}

void WalkRules::not_opened(std::string_view directory, bool marked_by_system,
                           const std::error_code& error) {
    if (marked_by_system && error == std::errc::permission_denied)
        sink_.system_folder_skipped(directory);
    else
        sink_.folder_unreadable(directory, error.value());
}

void WalkRules::leave_out(const std::optional<LeftOutFile>& file) {
    left_out_ = file;
}

void WalkRules::hand_on_files(const FolderListing& listing, std::string& path,
                              std::size_t slashed_length) {
    path.resize(slashed_length);
    for (const ListedName& file : listing.files)
        hand_on_file(listing.name_of(file), path, slashed_length);
}

void WalkRules::folder_read(const FolderListing& listing, std::string_view directory) {
    sink_.folder_listed(directory, listing);
    // Its kind unknown, an entry may be a folder full of files: never
    // guessed, it is reported as unreadable.
    for (const UnknownName& unknown : listing.unknown) {
        std::string path(directory);
        if (!path.empty() && path.back() != platform::kPathSeparator)
            path.push_back(platform::kPathSeparator);
        path.append(listing.name_of(unknown.name));
        not_opened(path, unknown.name.marked_by_system,
                   std::error_code(unknown.error, std::system_category()));
    }
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

void WalkRules::descend(const platform::FolderIdentity& identity, std::string_view resolved_path) {
    if (identity.known())
        descent_.insert(identity);
    else
        descent_paths_.emplace_back(resolved_path);
}

void WalkRules::ascend(const platform::FolderIdentity& identity) {
    if (identity.known())
        descent_.erase(identity);
    else if (!descent_paths_.empty())
        descent_paths_.pop_back();
}

}  // namespace kestrafin::search
