// The rules that decide whether the walk enters a folder it has just read,
// and what it tells the visitor of a folder it enters; they also carry the
// visitor's answers back to the walk. The walk applies them to
// every folder, whether it read it itself or took it from a reader, so that
// readers never change what is listed.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/folders.h"
#include "search/folder_listing.h"
#include "search/searchfiles.h"
#include "search/walk_visitor.h"

namespace kestrafin::search {

// How a folder was reached on the current descent.
struct FolderRoute {
    bool entered_through_link = false;
    bool below_link = false;  // it or a folder above it was entered through a link
    std::size_t links = 0;    // links followed on the way down to it, its own included
};

// Whether the files of a folder whose directory string has `units` UTF-16
// code units are handed on.
inline bool lists_files_of(const SearchOptions& options, std::size_t units) {
    return options.every_file || units > options.longer_than;
}

// What to read of a folder reached from a folder on `parent_volume` (none
// for the root; `parent_on_kernel_file_system` when that one lies on a
// kernel file system), whose directory string has `units` UTF-16 code units
// and which lies at `below_root` below the walk's root: which names to keep,
// and which to leave out so that no walk, nor any reader ahead of one, opens
// them.
inline ListingRequest listing_request(const SearchOptions& options,
                                      std::optional<std::uint64_t> parent_volume,
                                      bool parent_on_kernel_file_system, std::size_t units,
                                      std::string_view below_root) {
    return {.parent_volume = parent_volume,
            .keep_files = lists_files_of(options, units),
            .exclusion = options.exclusion.get(),
            .below_root = below_root,
            .parent_on_kernel_file_system = parent_on_kernel_file_system,
            .follow_links = options.follow_links,
            .include_offline = options.include_offline};
}

// For sets of folders by identity.
struct FolderIdentityHash {
    std::size_t operator()(const platform::FolderIdentity& identity) const {
        return std::hash<std::uint64_t>()(identity.file * 0x9E3779B97F4A7C15ull ^ identity.volume);
    }
};

// The folders walked through links, which decide on a web of links. Walks
// that enter links met by one traversal share it, so that a folder two of
// its links lead to is walked once.
struct LinkMemory {
    struct NamedIdentity {
        platform::FolderIdentity identity;
        std::size_t name_hash = 0;
        bool operator==(const NamedIdentity&) const = default;
    };
    struct NamedIdentityHash {
        std::size_t operator()(const NamedIdentity& named) const {
            return FolderIdentityHash()(named.identity) ^ named.name_hash;
        }
    };
    using IdentitySet = std::unordered_set<platform::FolderIdentity, FolderIdentityHash>;

    IdentitySet walked_below_links;
    IdentitySet link_targets;  // folders entered through a link or at a mount below one
    std::unordered_set<NamedIdentity, NamedIdentityHash> walked_by_name;
};

// What the walk has seen so far that its rules depend on: the descent, the
// folders walked through links. The walk's thread alone uses it.
class WalkRules {
  public:
    explicit WalkRules(WalkVisitor& visitor, const SearchOptions& options = {})
        : visitor_(visitor),
          stop_request_(options.stop),
          one_file_system_(options.one_file_system),
          links_(std::make_shared<LinkMemory>()) {}

    // For a walk whose root is a link met by another traversal, from a
    // folder on `parent_volume`: the folders it lies below (host identities,
    // outermost first) join the descent, the root's volume is `root_volume`
    // (when the walk stays on one) and the folders walked through links are
    // `links`'s. Before the first admit().
    void enter_below(const std::vector<platform::FolderIdentity>& descent,
                     std::optional<std::uint64_t> root_volume, std::shared_ptr<LinkMemory> links);

    // Whether the visitor answered stop or the options' stop was set: nothing
    // is told from then on, and the walk ends.
    bool stopped() const {
        if (!stopped_ && stop_request_ != nullptr && stop_request_->load(std::memory_order_relaxed))
            stopped_ = true;
        return stopped_;
    }
    // Whether the visitor answered prune to the folder told last as entered;
    // asking forgets it.
    bool take_pruned() { return std::exchange(pruned_, false); }

    // Decides on the folder read as `listing`, named `directory`. Returns true
    // when the walk enters it. Otherwise tells the visitor why not and returns
    // false: it lies on another volume than the root (the first folder
    // decided on) when the walk stays on one; it lies on a kernel file
    // system (entered only when other file
    // systems are mounted below it), it is reached through a link or is a
    // mount's root and is a folder of the current descent (a cycle), or it
    // is reached through a link (directly or below one) and was already
    // walked through a link (a web of links; a plain folder below a link
    // only when its number was a link's target or came under its name).
    bool admit(const FolderListing& listing, const FolderRoute& route, std::string_view directory);

    // Whether admit() needs the folder's subfolders in `listing` to decide:
    // a plain folder below a link with the number of a folder of the descent
    // is that folder again (a cycle, as a link to it would be) only when it
    // holds the same subfolders; a file system may reuse numbers.
    bool needs_names_to_admit(const FolderListing& listing, const FolderRoute& route) const;

    // A file the walk never hands on, such as the temporary file of the
    // program's own output.
    void leave_out(const std::optional<LeftOutFile>& file);

    // Hands on the files of an admitted folder. `path` holds the folder's
    // slashed path in its first `slashed_length` bytes; it is used as scratch
    // (and may move) and is left that long.
    void hand_on_files(const FolderListing& listing, std::string& path, std::size_t slashed_length);

    // Hands on one file `name` of an admitted folder, as it is read; `path`
    // as for hand_on_files. False once the visitor answered stop.
    bool hand_on_file(std::string_view name, std::string& path, std::size_t slashed_length) {
        if (leaving_out_here_ && name == left_out_->name) return true;
        path.append(name);
        file_event_.path = path;
        tell(file_event_);
        path.resize(slashed_length);
        return !stopped_;
    }

    // Tells the visitor that the admitted folder `directory` has been read, with
    // its listing, and whether reading it failed part way or its identity
    // could not be learned; its entries of unknown kind are reported as
    // unreadable, and the folders it left unentered as such.
    void folder_read(const FolderListing& listing, std::string_view directory);

    // Whether `reread`, the subfolders of a folder reopened where the walk
    // read `read` (the walk closed it meanwhile), shows the same folder under
    // a new number. A file system that numbers inodes as it meets them (FUSE
    // by node id, as sshfs does) gives a folder it forgot while no handle held
    // it a new number, and nothing else about it changes: the volume, and all
    // its subfolders, those the walk left out among them. Another folder put
    // in its place differs in those, or is one the walk is inside; so does
    // this one when a subfolder came or went meanwhile, which is then
    // reported as a folder gone.
    bool renumbered(const FolderListing& read, const FolderListing& reread) const;

    // Whether `reopened`, opened again where the walk read `read` (a folder
    // of the descent, now known by `identity`), is that folder. When the host
    // gave it a new number, the descent and `identity` take the new one.
    bool reopened_is_read(platform::Folder& reopened, const FolderListing& read,
                          platform::FolderIdentity& identity);

    // Tells the visitor that the folder `directory` could not be read for the
    // host's `error`.
    void not_read(std::string_view directory, int error) {
        tell({.kind = WalkEventKind::folder_not_read, .path = directory, .error = error});
    }

    // Tells the visitor about the folder `directory`, listed with the host's
    // mark `marked_by_system`, that could not be opened (or its kind learnt)
    // for `error`: not entered when the host marks it as its own and refused
    // access, else unreadable.
    void not_opened(std::string_view directory, bool marked_by_system,
                    const std::error_code& error);

    // The descent: a folder joins it when the walk goes below it and leaves
    // it when the walk comes back. `listing`, the folder's, lives while it is
    // in the descent; its resolved path stands for a folder whose identity is
    // not known.
    void descend(const platform::FolderIdentity& identity, const FolderListing* listing = nullptr);
    void ascend(const platform::FolderIdentity& identity);

  private:
    using IdentitySet = LinkMemory::IdentitySet;

    bool admit_below_link(const platform::FolderIdentity& identity, bool may_lead_back,
                          std::string_view directory);
    bool admit_without_identity(const FolderListing& listing, const FolderRoute& route,
                                std::string_view directory);

    bool repeats_a_folder_of_the_descent(const FolderListing& listing) const;

    void tell(const WalkEvent& event) {
        if (stopped()) return;
        const Answer answer = visitor_.visit(event);
        if (answer == Answer::stop) stopped_ = true;
        // The folder's own events after it leave it pruned.
        if (answer == Answer::prune && event.kind == WalkEventKind::folder_entered) pruned_ = true;
    }
    void not_entered(std::string_view directory, NotEntered reason) {
        tell({.kind = WalkEventKind::folder_not_entered, .path = directory, .reason = reason});
    }

    struct DescentFolder {
        platform::FolderIdentity identity;
        const FolderListing* listing = nullptr;
    };

    WalkVisitor& visitor_;
    const std::atomic<bool>* stop_request_;
    mutable bool stopped_ = false;
    bool pruned_ = false;
    WalkEvent file_event_;  // kept, so that a file costs only its path
    // The names of the folder told as entered, kept for their memory.
    std::vector<NamedEntry> subfolder_names_;
    std::vector<DeclinedEntry> declined_names_;
    std::vector<NamedEntry> excluded_names_;
    IdentitySet descent_;
    std::vector<DescentFolder> descent_folders_;  // outermost first
    const bool one_file_system_;
    std::shared_ptr<LinkMemory> links_;
    std::optional<std::uint64_t> root_volume_;  // set when the walk stays on it
    bool admitted_any_ = false;
    // The resolved paths of the folders of the descent whose identity is not
    // known, from the root down, by their keys.
    std::vector<PathKey> descent_paths_;
    std::optional<LeftOutFile> left_out_;
    bool leaving_out_here_ = false;  // the folder admitted last holds the left-out file
};

}  // namespace kestrafin::search
