#include "search/folder_listing.h"

namespace kestrafin::search {

void FolderListing::clear() {
    identity = {};
    identity_error.clear();
    mount_root = false;
    on_kernel_file_system = false;
    names.clear();
    files.clear();
    file_count = 0;
    subfolders.clear();
    excluded.clear();
    unknown.clear();
    declined.clear();
    read_error.clear();
    resolved_path = {};
}

PathKey path_key(std::string_view path) {
    if (path.empty()) return {};
    return {path.size(), std::hash<std::string_view>{}(path)};
}

void read_folder_listing(platform::Folder& folder, const ListingRequest& request,
                         FolderListing& listing) {
    ReadAllowance unbounded;
    read_folder_listing(folder, request, listing, unbounded);
}

void read_folder_identity(platform::Folder& folder, const ListingRequest& request,
                          FolderListing& listing) {
    listing.clear();
    std::error_code error;
    listing.identity = folder.identity(error);
    listing.identity_error = error;
    // Without an identity the walk tells loops through links by path.
    if (!listing.identity.known()) listing.resolved_path = path_key(folder.resolved_path(error));
    // A volume may be known where its files' IDs are not.
    const bool same_volume = request.parent_volume && listing.identity.volume != 0 &&
                             *request.parent_volume == listing.identity.volume;
    listing.mount_root = folder.is_mount_root() || (request.parent_volume && !same_volume);
    if (same_volume && !request.parent_on_kernel_file_system) return;
    listing.on_kernel_file_system =
        (same_volume && request.parent_on_kernel_file_system) || folder.on_kernel_file_system();
    // A kernel file system holds no user files, but another file system may
    // be mounted below it (a tmpfs on /dev/shm below devtmpfs): the folders on
    // the way there are its only subfolders.
    if (listing.on_kernel_file_system) {
        for (const std::string& name : folder.ways_to_mounts_below()) {
            listing.subfolders.push_back(
                {listing.names.size(), name.size(), platform::EntryKind::folder});
            listing.names.append(name);
        }
    }
}

bool read_folder_listing(platform::Folder& folder, const ListingRequest& request,
                         FolderListing& listing, ReadAllowance& allowance) {
    read_folder_identity(folder, request, listing);
    if (listing.on_kernel_file_system) return true;
    return read_folder_names(
        folder, request, listing, allowance, [&](std::string_view name, platform::EntryKind kind) {
            if (!allowance.allow(held_bytes(listing) + name.size() + sizeof(ListedName)))
                return false;
            listing.files.push_back({listing.names.size(), name.size(), kind});
            listing.names.append(name);
            return true;
        });
}

}  // namespace kestrafin::search
