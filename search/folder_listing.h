// Reading a folder's names into a listing: what the walk needs to decide
// about the folder and to list it. Reading needs no state of the walk, so a
// reader thread can do it; the walk's rules are applied by the walk alone, to
// the listings it takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/folders.h"
#include "search/declined_folders.h"
#include "search/name_exclusion.h"
#include "search/read_allowance.h"

namespace kestrafin::search {

// A name kept in a listing: its place in FolderListing::names and its kind.
struct ListedName {
    std::size_t offset = 0;
    std::size_t length = 0;
    platform::EntryKind kind = platform::EntryKind::file;
    bool marked_by_system = false;  // as FolderEntry::marked_by_system
};

// An entry whose kind the host could not learn, and the host's reason.
struct UnknownName {
    ListedName name;
    int error = 0;
};

// A folder left unentered, and why.
struct DeclinedName {
    ListedName name;
    NotEntered reason = NotEntered::other_machine;
};

// A path by its length in bytes and a 64-bit hash of them: a descent of any
// depth keeps one key a level rather than a copy of each level's whole path,
// which would grow with the square of the depth. Two different paths share a
// key with odds of about one in 2^64.
struct PathKey {
    std::size_t length = 0;  // 0: no path
    std::uint64_t hash = 0;
    bool empty() const { return length == 0; }
    bool operator==(const PathKey&) const = default;
};
PathKey path_key(std::string_view path);

struct FolderListing {
    platform::FolderIdentity identity;  // not known() when the host could not tell
    std::error_code identity_error;     // why the host could not be asked, if so
    bool mount_root = false;            // a mount's root, or on another volume than its parent
    // On a kernel file system no name is read: `subfolders` holds only the
    // ways down to mounts of other file systems below it, which may hold
    // user files.
    bool on_kernel_file_system = false;
    std::string names;                   // the kept names, back to back
    std::vector<ListedName> files;       // entries that are no folders, in delivery order
    std::vector<ListedName> subfolders;  // folders and links to folders, in delivery order
    std::vector<ListedName> excluded;    // entries left out, folders never opened
    std::vector<UnknownName> unknown;    // entries of no known kind, kept whatever keep_files says
    std::vector<DeclinedName> declined;  // folders never opened, kept whatever keep_files says
    std::error_code read_error;          // set when reading stopped early
    // Only when the identity is not known: the folder's path with links
    // resolved, as the host names it, by its key; empty where the host
    // cannot tell.
    PathKey resolved_path;
    // The files read, kept or not; those the exclusion leaves out are not counted.
    std::size_t file_count = 0;

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
    // Entries to leave out, and the folder's path below the walk's root as
    // the exclusion takes it.
    const NameExclusion* exclusion = nullptr;
    std::string_view below_root;
    // The folder it was reached from lies on a kernel file system; so does
    // this one then, unless it is on another volume.
    bool parent_on_kernel_file_system = false;
    // Links to folders are entered; offline folders are not.
    bool follow_links = true;
    bool include_offline = false;
};

// Why the folder `entry` is not to be opened at all, if so.
inline std::optional<NotEntered> not_to_enter(const platform::FolderEntry& entry,
                                              const ListingRequest& request) {
    if (entry.on_other_machine) return NotEntered::other_machine;
    if (entry.kind == platform::EntryKind::link_to_folder && !request.follow_links)
        return NotEntered::link;
    if (entry.offline && !request.include_offline) return NotEntered::offline;
    return std::nullopt;
}

// Reads every name of the open `folder` into `listing` ("." and ".." left
// out by name, whatever kind the host gives them). A folder on a kernel file
// system is flagged and not read. Never fails: a failed read leaves the names
// before it and sets read_error.
void read_folder_listing(platform::Folder& folder, const ListingRequest& request,
                         FolderListing& listing);

// The same within `allowance`: false, with the listing incomplete, as soon as
// the listing would hold more bytes than the allowance grants, or once the
// read-ahead that granted it stops.
bool read_folder_listing(platform::Folder& folder, const ListingRequest& request,
                         FolderListing& listing, ReadAllowance& allowance);

// Reading in two steps, for a walk that decides on a folder before reading
// its names and hands its files on as they come, so that a folder of any
// size is never held whole. The first step empties `listing` and fills in
// what the walk decides on: the identity (and the resolved path where it is
// not known), whether it is a mount's root, and whether the folder lies on a
// kernel file system (then its names are not
// read, and its subfolders are only the ways down to mounts of other file
// systems below it).
void read_folder_identity(platform::Folder& folder, const ListingRequest& request,
                          FolderListing& listing);

// The second step: keeps the subfolders, the entries the request's exclusion
// leaves out and those of unknown kind in `listing` and gives each file's
// name to `take_file` (only when request.keep_files), which returns false to
// stop reading; so does a name that `allowance` refuses. "." and ".." are
// left out by name, whatever kind the host gives them. False when reading
// was stopped so; a failed read sets read_error. Reads nothing for a folder
// on a kernel file system. `folder` is a platform::Folder, or anything else
// that delivers a folder's entries as its next() does, so that names read
// otherwise than from the host are kept by the same rules.
template <typename Entries, typename TakeFile>
bool read_folder_names(Entries& folder, const ListingRequest& request, FolderListing& listing,
                       ReadAllowance& allowance, TakeFile&& take_file);

// The bytes a listing holds, as counted against an allowance.
inline std::size_t held_bytes(const FolderListing& listing) {
    return listing.names.size() +
           (listing.files.size() + listing.subfolders.size() + listing.excluded.size()) *
               sizeof(ListedName) +
           listing.unknown.size() * sizeof(UnknownName) +
           listing.declined.size() * sizeof(DeclinedName);
}

template <typename Entries, typename TakeFile>
bool read_folder_names(Entries& folder, const ListingRequest& request, FolderListing& listing,
                       ReadAllowance& allowance, TakeFile&& take_file) {
    using platform::EntryKind;
    if (listing.on_kernel_file_system) return true;
    std::error_code error;
    platform::FolderEntry entry;
    while (folder.next(entry, error)) {
        // A reader left to end on its own touches nothing more once the host answers.
        if (allowance.stopped()) return false;
        if (entry.name == "." || entry.name == "..") continue;
        const bool is_folder =
            entry.kind == EntryKind::folder || entry.kind == EntryKind::link_to_folder;
        const bool is_unknown = entry.kind == EntryKind::unknown;
        const auto excluded_name = [&] {
            return request.exclusion && request.exclusion->excludes(request.below_root, entry.name);
        };
        if (!is_folder && !is_unknown && !request.keep_files) {
            if (!excluded_name()) ++listing.file_count;
            continue;
        }
        const bool excluded = excluded_name();
        if (!is_folder && !is_unknown && !excluded) {
            ++listing.file_count;
            if (!take_file(entry.name, entry.kind)) return false;
            continue;
        }
        if (!allowance.allow(held_bytes(listing) + entry.name.size() + sizeof(UnknownName)))
            return false;
        const ListedName kept{listing.names.size(), entry.name.size(), entry.kind,
                              entry.marked_by_system};
        listing.names.append(entry.name);
        const std::optional<NotEntered> declined =
            is_folder ? not_to_enter(entry, request) : std::nullopt;
        if (excluded)
            listing.excluded.push_back(kept);
        else if (declined)
            listing.declined.push_back({kept, *declined});
        else if (is_unknown)
            listing.unknown.push_back({kept, entry.error.value()});
        else
            listing.subfolders.push_back(kept);
    }
    listing.read_error = error;
    return true;
}

}  // namespace kestrafin::search
