// One folder read whole in one step: what the walk needs to decide about it
// and to list it. Reading needs no state of the walk, so it can run on any
// thread; the walk's rules are applied by whoever takes the listing.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/folder_reader.h"
#include "search/read_allowance.h"

namespace kestrafin::search {

// A name kept in a listing: its place in FolderListing::names and its kind.
struct ListedName {
    std::size_t offset = 0;
    std::size_t length = 0;
    platform::EntryKind kind = platform::EntryKind::file;
};

struct FolderListing {
    platform::FolderIdentity identity;   // not known() when the host could not tell
    bool on_kernel_file_system = false;  // then no name was read
    std::string names;                   // the kept names, back to back
    std::vector<ListedName> files;       // entries that are no folders, in delivery order
    std::vector<ListedName> subfolders;  // folders and links to folders, in delivery order
    std::error_code read_error;          // set when reading stopped early

    std::string_view name_of(const ListedName& name) const {
        return std::string_view(names).substr(name.offset, name.length);
    }
    // Empties the listing and keeps its memory for the next folder.
    void clear();
};

struct ListingRequest {
    // The volume of the folder it was reached from; none for the root. The
    // file system's type is asked only when the volume differs.
    std::optional<std::uint64_t> parent_volume;
    // False when the folder's files will not be listed: only subfolders are kept.
    bool keep_files = true;
};

// Reads every name of the open `folder` into `listing` ("." and ".." left
// out). A folder on a kernel file system is flagged and not read. Never
// fails: a failed read leaves the names before it and sets read_error.
void read_folder_listing(platform::Folder& folder, const ListingRequest& request,
                         FolderListing& listing);

// The same within `allowance`: false, with the listing incomplete, as soon as
// the listing would hold more bytes than the allowance grants.
bool read_folder_listing(platform::Folder& folder, const ListingRequest& request,
                         FolderListing& listing, ReadAllowance& allowance);

// The bytes a listing holds, as counted against an allowance.
inline std::size_t held_bytes(const FolderListing& listing) {
    return listing.names.size() +
           (listing.files.size() + listing.subfolders.size()) * sizeof(ListedName);
}

}  // namespace kestrafin::search
