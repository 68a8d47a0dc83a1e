// What a walk tells its caller: one kind of event at a time, in the walk's
// order, each answered by whether the walk goes on. The walk decides only how
// to traverse (what it may open, where it has been); what its caller makes of
// the files and folders it meets is the visitor's affair.
//
// The events of one folder the walk enters come in this order: its files (as
// they are read), "folder entered" with its names, "folder not entered" for
// each subfolder it declines without opening, "folder not read" for each entry
// of unknown kind and when its names or identity could not all be read, then
// "folder done"; the subtrees of its subfolders follow, one after another. A
// folder the walk cannot open or declines once opened gets one event, but a
// kernel file system with other file systems mounted below it: "folder not
// entered", then, as the walk passes through it unread on its way to them,
// "folder entered" and "folder done". A folder the host keeps to itself and
// refuses gets "folder not entered" among the "folder not read" events of its
// parent; a folder that cannot be opened again when the walk comes back to it
// gets "folder not read" after its "folder done".
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/folders.h"
#include "search/declined_folders.h"

namespace kestrafin::search {

// A name of a folder's listing, and the kind the host gave it.
struct NamedEntry {
    std::string_view name;
    platform::EntryKind kind = platform::EntryKind::file;
};

// A subfolder the walk declined without opening it.
struct DeclinedEntry {
    std::string_view name;
    platform::EntryKind kind = platform::EntryKind::folder;
    NotEntered reason = NotEntered::other_machine;
};

// The names of a folder the walk entered other than its files, each list in
// the order the host delivered it. Valid only during the visit.
struct FolderNames {
    std::span<const NamedEntry> subfolders{};  // folders and links to folders the walk may enter
    std::span<const DeclinedEntry> declined{};
    // Entries the options' exclusion left out, files and folders; such a
    // folder is never opened.
    std::span<const NamedEntry> excluded{};
    // The folder's files, handed on or not (the exclusion's left out).
    std::size_t files = 0;
};

enum class WalkEventKind : std::uint8_t {
    file,                // one file handed on, named by its full path
    folder_entered,      // a folder read, with its names; its files came before
    folder_done,         // the last event of a folder entered; for progress reports
    folder_not_read,     // a folder or entry that could not be read (wholly), with the host's error
    folder_not_entered,  // a folder the walk does not enter, with the reason
};

struct WalkEvent {
    WalkEventKind kind = WalkEventKind::file;
    // A file's full path, or a folder's directory string: the root as it was
    // given, any other folder as its parent's slashed path and its name.
    std::string_view path;
    FolderNames names{};                    // folder_entered
    int error = 0;                          // folder_not_read: the host's error number
    NotEntered reason = NotEntered::cycle;  // folder_not_entered
};

enum class Answer : std::uint8_t {
    go_on,
    // To "folder entered": the walk enters none of its subfolders (the
    // folder's own remaining events still come). To any other event it is
    // taken as go_on.
    prune,
    // Ends the walk: no event follows.
    stop,
};

// Sees what the walk meets. Called on the walk's calling thread alone; what
// an event points to is valid only during the call.
class WalkVisitor {
  public:
    virtual ~WalkVisitor() = default;
    virtual Answer visit(const WalkEvent& event) = 0;
};

// A visitor that takes each kind of event on a hook of its own and, after
// each, answers stop when should_stop() says so; it never prunes.
struct WalkHooks : WalkVisitor {
    virtual void add_entry(std::string_view /*text*/) {}
    virtual void folder_listed(std::string_view /*directory*/, const FolderNames& /*names*/) {}
    virtual void folder_unreadable(std::string_view /*directory*/, int /*error*/) {}
    virtual void folder_not_entered(std::string_view /*directory*/, NotEntered /*reason*/) {}
    virtual void folder_done(std::string_view /*directory*/) {}
    virtual bool should_stop() { return false; }

    Answer visit(const WalkEvent& event) final {
        using Kind = WalkEventKind;
        switch (event.kind) {
            case Kind::file:
                add_entry(event.path);
                break;
            case Kind::folder_entered:
                folder_listed(event.path, event.names);
                break;
            case Kind::folder_done:
                folder_done(event.path);
                break;
            case Kind::folder_not_read:
                folder_unreadable(event.path, event.error);
                break;
            case Kind::folder_not_entered:
                folder_not_entered(event.path, event.reason);
                break;
        }
        return should_stop() ? Answer::stop : Answer::go_on;
    }
};

}  // namespace kestrafin::search
