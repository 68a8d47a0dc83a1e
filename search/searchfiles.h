// The long-path search: a depth-first walk of a folder tree that hands on the
// full path of every file lying directly in a folder whose path is longer
// than a threshold.
//
// One walk (searchfiles.cpp) does it all on the caller's thread: it keeps the
// descent as a stack of frames, applies the walk's rules (walk_rules.h) to
// each folder and tells the visitor (walk_visitor.h). It reads each folder itself
// (folder_listing.h) or, once reader threads run, takes what the read-ahead
// (read_ahead.h) read of it below the descent; what is listed is the same
// either way, only the speed differs. How many readers work at once follows
// what their reads find (read_waits.h, reader_count.h). The descent keeps
// its open handles within a budget (descriptor_budget.h) and the readers
// hold a few each (read_ahead.h), so that a walk holds no more than the
// host allows and no folder stays open longer than the walk needs it.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/folders.h"
#include "search/declined_folders.h"
#include "search/name_exclusion.h"
#include "search/walk_visitor.h"

namespace kestrafin::search {

inline constexpr std::size_t kDefaultLongerThan = 200;
// Threads that read folders, the walk's own included, for the scanner and the
// window: enough that a share's round trips overlap. Where more would not
// read faster, as on a local disk, fewer read at once.
inline constexpr std::size_t kDefaultThreads = 64;
// Handles a walk holds at most for each of its threads besides those of its
// descent (SearchOptions::threads).
inline constexpr std::size_t kHandlesMostPerThread = 3;
// Links followed on the way down to a folder at most, where the host cannot
// tell folders' identities; a loop through the same share under another name
// shows no path the walk is inside.
inline constexpr std::size_t kMostLinksWithoutIdentity = 8;

// A file named `name` in the folder `folder`.
struct LeftOutFile {
    platform::FolderIdentity folder;
    std::string name;
};

// How the walk traverses. Of what its caller judges it knows only which
// folders' files to hand on (longer_than, every_file); the rest says what it
// must not open or hand on.
struct SearchOptions {
    // The files of a folder are handed on when its path is longer than this
    // many UTF-16 code units; the names of others are not even kept.
    std::size_t longer_than = kDefaultLongerThan;
    // Hands on every file of every folder, whatever the length of its path;
    // for callers that judge each file by rules of their own.
    bool every_file = false;
    // Folders of the descent that keep an open handle at most; deeper walks
    // reopen folders instead of holding more. Fewer when the process may
    // hold only a few handles.
    std::size_t open_folders = 64;
    // Files and folders the walk leaves out; an excluded folder is not read.
    // Shared with readers, which a stopped walk may leave to end on their own.
    std::shared_ptr<const NameExclusion> exclusion = nullptr;
    // Threads that read folders, the walk's own included; with more than one,
    // the others read ahead of the walk. What is listed does not change. A
    // walk holds open_folders + 1 handles at most, and kHandlesMostPerThread
    // more for each thread.
    std::size_t threads = 1;
    // With threads: the others start reading ahead at once on a host with
    // processors to spare, else once the walk's own reads are found to wait
    // for the host; how many read at a time follows what their reads find.
    // Links to folders are entered (a link to another machine than the
    // root's never is); with this false none is.
    bool follow_links = true;
    // Folders on other volumes than the root's are entered.
    bool one_file_system = false;
    // Folders whose names lie in the cloud are entered, which fetches them.
    bool include_offline = false;
    // Never handed on: the temporary file of the caller's own output, made
    // before the walk in a folder it may walk.
    std::optional<LeftOutFile> leave_out = std::nullopt;
    // When given and set (by another thread), the walk ends as its visitor's
    // stop would, without waiting for another event: at the next folder the
    // walk or any reader finishes.
    const std::atomic<bool>* stop = nullptr;
};

// Walks `directory` (taken exactly as given: a trailing separator counts in its
// length) and every folder below it, depth first. A
// folder's own files come first, in the order the host delivers them, then the
// subtree of each subfolder in turn. Folders are visited whatever the length of
// their path and whatever the depth. A folder is not entered when it is one
// the walk is inside and it is reached through a link, is a mount's root or
// lies below a link (then only when it holds the same subfolders: a plain
// folder with the number of one above it may be another on a file system
// that reuses numbers),
// when it is reached through a link (directly or below one) and was already
// walked through a link, or when it lies on a kernel file system (unless
// other file systems are mounted below it, which the walk goes on to); where
// the host cannot tell identities, a folder reached through a link is not
// entered when its resolved path is one the walk is inside or when too many
// links lead to it; a folder the host marks as its own is not entered when
// the host refuses to open it; nor is a link to another machine than the
// root's, an offline folder, or what the options leave out (links, other
// volumes). Each of these is told to the visitor. The visitor is called on
// the calling thread alone, whatever the thread count. At the walk's end every
// reader has ended when this returns. Once it stops (the visitor answered stop,
// or options.stop was set) it returns without waiting for readers: at once
// when it was waiting for one, else once the host has answered its own read
// of the moment; readers still waiting for the host are left to end on their
// own, which they do once it answers, touching nothing of the caller's but
// the exclusion they share.
void searchfiles(std::string_view directory, WalkVisitor& visitor,
                 const SearchOptions& options = {});

}  // namespace kestrafin::search
