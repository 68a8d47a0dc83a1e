// The rules that decide whether the walk enters a folder it has just read,
// and what it hands the sink for a folder it enters. The walk on one thread
// and the walk with read-ahead both go through these, so that they cannot
// come to differ in what they list.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/folder_reader.h"
#include "search/folder_listing.h"
#include "search/searchfiles.h"

namespace kestrafin::search {

// How a folder was reached on the current descent.
struct FolderRoute {
    bool entered_through_link = false;
    bool below_link = false;  // it or a folder above it was entered through a link
};

// Whether the files of a folder whose directory string has `units` UTF-16
// code units are handed on.
inline bool lists_files_of(const SearchOptions& options, std::size_t units) {
    return options.every_file || units > options.longer_than;
}

// What to read of a folder reached from a folder on `parent_volume` (none
// for the root), whose directory string has `units` UTF-16 code units and
// which lies at `below_root` below the walk's root: which names to keep, and
// which to leave out so that no walk, nor any reader ahead of one, opens them.
inline ListingRequest listing_request(const SearchOptions& options,
                                      std::optional<std::uint64_t> parent_volume, std::size_t units,
                                      std::string_view below_root) {
    return {.parent_volume = parent_volume,
            .keep_files = lists_files_of(options, units),
            .exclusion = options.exclusion,
            .below_root = below_root};
}

class WalkRules {
  public:
    explicit WalkRules(SearchSink& sink) : sink_(sink) {}

    // Decides on the folder read as `listing`, named `directory`. Returns true
    // when the walk enters it. Otherwise tells the sink why not and returns
    // false: it lies on a kernel file system, it is a folder of the current
    // descent (a cycle, whatever led there), or it is reached through a link
    // (directly or below one) and was already walked through a link (a web
    // of links).
    bool admit(const FolderListing& listing, const FolderRoute& route, std::string_view directory);

    // Hands on the files of an admitted folder. `path` holds the folder's
    // slashed path in its first `slashed_length` bytes; it is used as scratch
    // (and may move) and is left that long.
    void hand_on_files(const FolderListing& listing, std::string& path, std::size_t slashed_length);

    // Hands on one file `name` of an admitted folder, as it is read; `path`
    // as for hand_on_files.
    void hand_on_file(std::string_view name, std::string& path, std::size_t slashed_length) {
        path.append(name);
        sink_.add_entry(path);
        path.resize(slashed_length);
    }

    // Tells the sink that the admitted folder `directory` has been read, with
    // its listing, and whether reading it failed part way.
    void folder_read(const FolderListing& listing, std::string_view directory);

    // Whether `reread`, the subfolders of a folder reopened where the walk
    // read `read` (the walk closed it meanwhile), shows the same folder under
    // a new number. A file system that numbers inodes as it meets them (FUSE
    // by node id, as sshfs does) gives a folder it forgot while no handle held
    // it a new number, and nothing else about it changes: the volume, and the
    // subfolders the walk still has to go through. Another folder put in its
    // place differs in those, or is one the walk is inside.
    bool renumbered(const FolderListing& read, const FolderListing& reread) const;

    // Whether `reopened`, opened again where the walk read `read` (a folder
    // of the descent, now known by `identity`), is that folder. When the host
    // gave it a new number, the descent and `identity` take the new one.
    bool reopened_is_read(platform::Folder& reopened, const FolderListing& read,
                          platform::FolderIdentity& identity);

    // The descent: a folder joins it when the walk goes below it and leaves
    // it when the walk comes back.
    void descend(const platform::FolderIdentity& identity);
    void ascend(const platform::FolderIdentity& identity);

  private:
    struct IdentityHash {
        std::size_t operator()(const platform::FolderIdentity& identity) const {
            return std::hash<std::uint64_t>()(identity.file * 0x9E3779B97F4A7C15ull ^
                                              identity.volume);
        }
    };
    using IdentitySet = std::unordered_set<platform::FolderIdentity, IdentityHash>;

    SearchSink& sink_;
    IdentitySet descent_;
    IdentitySet walked_below_links_;
};

}  // namespace kestrafin::search
