#include "search/folder_listing.h"

namespace kestrafin::search {

using platform::EntryKind;

void FolderListing::clear() {
    identity = {};
    on_kernel_file_system = false;
    names.clear();
    files.clear();
    subfolders.clear();
    read_error.clear();
}

void read_folder_listing(platform::Folder& folder, const ListingRequest& request,
                         FolderListing& listing) {
    ReadAllowance unbounded;
    read_folder_listing(folder, request, listing, unbounded);
}

bool read_folder_listing(platform::Folder& folder, const ListingRequest& request,
                         FolderListing& listing, ReadAllowance& allowance) {
    listing.clear();
    std::error_code error;
    listing.identity = folder.identity(error);
    if (!request.parent_volume || !listing.identity.known() ||
        *request.parent_volume != listing.identity.volume) {
        listing.on_kernel_file_system = folder.on_kernel_file_system();
        if (listing.on_kernel_file_system) return true;
    }
    platform::FolderEntry entry;
    while (folder.next(entry, error)) {
        const bool is_folder =
            entry.kind == EntryKind::folder || entry.kind == EntryKind::link_to_folder;
        if (is_folder) {
            if (entry.name == "." || entry.name == "..") continue;
        } else if (!request.keep_files) {
            continue;
        }
        if (!allowance.allow(held_bytes(listing) + entry.name.size() + sizeof(ListedName)))
            return false;
        const ListedName kept{listing.names.size(), entry.name.size(), entry.kind};
        listing.names.append(entry.name);
        (is_folder ? listing.subfolders : listing.files).push_back(kept);
    }
    listing.read_error = error;
    return true;
}

}  // namespace kestrafin::search
