#include "search/walk_rules.h"

#include "platform/path_rules.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kestrafin::search {

bool WalkRules::admit(const FolderListing& listing, const FolderRoute& route,
                      std::string_view directory) {
    leaving_out_here_ = false;
    if (one_file_system_ && !admitted_any_ && listing.identity.known())
        root_volume_ = listing.identity.volume;
    admitted_any_ = true;
    if (root_volume_ && listing.identity.known()) {
        if (listing.identity.volume != *root_volume_) {
            not_entered(directory, NotEntered::other_volume);
            return false;
        }
    }
    if (listing.on_kernel_file_system) {
        not_entered(directory, NotEntered::kernel_file_system);
        // Entered only on the way to mounts of other file systems below it.
        return !listing.subfolders.empty();
    }
    if (!listing.identity.known()) return admit_without_identity(listing, route, directory);
    // A plain folder on the same mount as its parent cannot close a cycle,
    // whatever number the file system gives it: some reuse numbers, and
    // only links and mounts lead back up.
    const bool may_lead_back = route.entered_through_link || listing.mount_root;
    if (may_lead_back && descent_.contains(listing.identity)) {
        not_entered(directory, NotEntered::cycle);
        return false;
    }
    if (needs_names_to_admit(listing, route) && repeats_a_folder_of_the_descent(listing)) {
        not_entered(directory, NotEntered::cycle);
        return false;
    }
    if (route.below_link && !admit_below_link(listing.identity, may_lead_back, directory)) {
        not_entered(directory, NotEntered::link_web);
        return false;
    }
    leaving_out_here_ = left_out_ && left_out_->folder == listing.identity;
    return true;
}

namespace {

// A folder's subfolders by name and kind, in an order of their own; those
// left out count too, so that two routes to one folder, excluded by their
// paths differently, show the same.
std::vector<std::pair<std::string_view, platform::EntryKind>> sorted_subfolders(
    const FolderListing& listing) {
    std::vector<std::pair<std::string_view, platform::EntryKind>> names;
    names.reserve(listing.subfolders.size());
    for (const ListedName& name : listing.subfolders)
        names.emplace_back(listing.name_of(name), name.kind);
    for (const ListedName& name : listing.excluded)
        if (name.kind == platform::EntryKind::folder ||
            name.kind == platform::EntryKind::link_to_folder)
            names.emplace_back(listing.name_of(name), name.kind);
    for (const DeclinedName& declined : listing.declined)
        names.emplace_back(listing.name_of(declined.name), declined.name.kind);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

bool WalkRules::needs_names_to_admit(const FolderListing& listing, const FolderRoute& route) const {
    return route.below_link && !route.entered_through_link && !listing.mount_root &&
           !listing.on_kernel_file_system && listing.identity.known() &&
           descent_.contains(listing.identity);
}

bool WalkRules::repeats_a_folder_of_the_descent(const FolderListing& listing) const {
    const auto names = sorted_subfolders(listing);
    return std::any_of(
        descent_folders_.begin(), descent_folders_.end(), [&](const DescentFolder& folder) {
            return folder.identity == listing.identity && folder.listing != nullptr &&
                   sorted_subfolders(*folder.listing) == names;
        });
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
    const LinkMemory::NamedIdentity named{identity, std::hash<std::string_view>()(name)};
    LinkMemory& links = *links_;
    if (may_lead_back) {
        if (links.walked_below_links.contains(identity)) return false;
        links.link_targets.insert(identity);
    } else if ((links.link_targets.contains(identity) && !descent_.contains(identity)) ||
               !links.walked_by_name.insert(named).second) {
        // A plain folder with the number of a folder it lies below is one
        // more folder of a file system that reuses numbers.
        return false;
    }
    links.walked_below_links.insert(identity);
    links.walked_by_name.insert(named);
    return true;
}

void WalkRules::enter_below(const std::vector<platform::FolderIdentity>& descent,
                            std::optional<std::uint64_t> root_volume,
                            std::shared_ptr<LinkMemory> links) {
    for (const platform::FolderIdentity& identity : descent) descend(identity);
    if (one_file_system_ && root_volume) root_volume_ = root_volume;
    // The root's volume is that of the traversal's root, not the link's.
    admitted_any_ = true;
    if (links) links_ = std::move(links);
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
        not_entered(directory, NotEntered::path_cycle);
        return false;
    }
    if (route.links > kMostLinksWithoutIdentity) {
        not_entered(directory, NotEntered::too_many_links);
        return false;
    }
    return true;
}

void WalkRules::not_opened(std::string_view directory, bool marked_by_system,
                           const std::error_code& error) {
    if (marked_by_system && error == std::errc::permission_denied)
        not_entered(directory, NotEntered::system_folder);
    else
        not_read(directory, error.value());
}

void WalkRules::leave_out(const std::optional<LeftOutFile>& file) {
    left_out_ = file;
}

void WalkRules::hand_on_files(const FolderListing& listing, std::string& path,
                              std::size_t slashed_length) {
    path.resize(slashed_length);
    for (const ListedName& file : listing.files)
        if (!hand_on_file(listing.name_of(file), path, slashed_length)) return;
}

void WalkRules::folder_read(const FolderListing& listing, std::string_view directory) {
    subfolder_names_.clear();
    for (const ListedName& name : listing.subfolders)
        subfolder_names_.push_back({listing.name_of(name), name.kind});
    declined_names_.clear();
    for (const DeclinedName& declined : listing.declined)
        declined_names_.push_back(
            {listing.name_of(declined.name), declined.name.kind, declined.reason});
    excluded_names_.clear();
    for (const ListedName& name : listing.excluded)
        excluded_names_.push_back({listing.name_of(name), name.kind});
    tell({.kind = WalkEventKind::folder_entered,
          .path = directory,
          .names = {subfolder_names_, declined_names_, excluded_names_, listing.file_count}});
    const auto path_of = [&](const ListedName& name) {
        std::string path(directory);
        if (!path.empty() && path.back() != platform::kPathSeparator)
            path.push_back(platform::kPathSeparator);
        path.append(listing.name_of(name));
        return path;
    };
    for (const DeclinedName& declined : listing.declined)
        not_entered(path_of(declined.name), declined.reason);
    // Its kind unknown, an entry may be a folder full of files: never
    // guessed, it is reported as unreadable, unless the host keeps it to itself.
    for (const UnknownName& unknown : listing.unknown)
        not_opened(path_of(unknown.name), unknown.name.marked_by_system,
                   std::error_code(unknown.error, std::system_category()));
    // A folder of no known identity escapes the checks for cycles and webs
    // of links: said once, with the first reason found.
    if (listing.read_error)
        not_read(directory, listing.read_error.value());
    else if (listing.identity_error)
        not_read(directory, listing.identity_error.value());
    tell({.kind = WalkEventKind::folder_done, .path = directory});
}

bool WalkRules::renumbered(const FolderListing& read, const FolderListing& reread) const {
    if (!read.identity.known() || !reread.identity.known() ||
        read.identity.volume != reread.identity.volume || reread.read_error ||
        descent_.contains(reread.identity))
        return false;
    // The host may deliver the names in another order the second time; the
    // folders a walk left out count too, as it reads again without leaving out.
    return sorted_subfolders(read) == sorted_subfolders(reread);
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
    for (DescentFolder& folder : descent_folders_)
        if (folder.identity == identity) folder.identity = reread.identity;
    identity = reread.identity;
    return true;
}

void WalkRules::descend(const platform::FolderIdentity& identity, const FolderListing* listing) {
    if (!identity.known()) {
        descent_paths_.push_back(listing != nullptr ? listing->resolved_path : PathKey{});
        return;
    }
    descent_.insert(identity);
    descent_folders_.push_back({identity, listing});
}

void WalkRules::ascend(const platform::FolderIdentity& identity) {
    if (!identity.known()) {
        if (!descent_paths_.empty()) descent_paths_.pop_back();
        return;
    }
    descent_.erase(identity);
    for (auto folder = descent_folders_.rbegin(); folder != descent_folders_.rend(); ++folder)
        if (folder->identity == identity) {
            descent_folders_.erase(std::next(folder).base());
            break;
        }
}

}  // namespace kestrafin::search
