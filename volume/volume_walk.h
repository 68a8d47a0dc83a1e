// A volume's tree played to a walk's visitor: the events that searchfiles
// (search/searchfiles.h) tells walking the same folders on the host, in its
// order, by its rules (search/walk_rules.h, search/folder_listing.h), but
// read from the tree instead of opening folders. Links to folders are
// handed to the walk itself, which decides on them as on a link it met; a
// folder reached twice through a damaged volume's references is entered
// once. Any depth: the descent is a stack of frames, not of calls.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/searchfiles.h"
#include "search/walk_visitor.h"
#include "volume/volume_tree.h"

namespace kestrafin::volume {

struct VolumeWalkHost {
    // Every directory string is also the folder's path on the host (the
    // volume is the host's own, or mounted where the root says): a link is
    // then seen as the host lists it and entered through the walk. Without,
    // no link to a folder is followed, whatever the options say.
    bool host_paths = false;
    // The host's listing marks a folder offline by its attributes (Windows;
    // the Linux drivers mark none).
    bool attributes_mark_offline = false;
};

struct VolumeWalkResult {
    // Links to folders declined only because no host path leads to them.
    std::size_t links_not_followed = 0;
    // What was found damaged, each once: the folders' (told to the visitor
    // as folders not read) and the tree's unplaced damage.
    std::vector<std::string> damage;
};

// Tells `visitor` the events of walking the folder `start` of `tree`, named
// by the directory string `directory` (taken as given, as searchfiles takes
// its root), and every folder below it, with `options` as the walk takes
// them. A folder whose names could not all be read gets "folder not read"
// with the host's error for damaged data before its "folder done"; the
// tree's damage that no folder holds is told once, as the root not read,
// after every other event. A folder that a damaged volume lists in a
// folder walked already, or below itself, is not entered again: it is told
// as not read.
VolumeWalkResult walk_volume(const VolumeTree& tree, RecordNumber start, std::string_view directory,
                             search::WalkVisitor& visitor, const search::SearchOptions& options,
                             const VolumeWalkHost& host = {});

struct FoundFolder {
    std::optional<RecordNumber> folder;  // none when not found, then
    std::string error;                   // why, naming the part of the path
    bool through_link = false;           // a part of the path is a link
};

// The folder at `path` below the volume's root (parts separated by "/" or
// the host's separator; none or only separators is the root; "." and ".."
// as the host takes them), found name by name as the host finds it
// (VolumeTree::find).
FoundFolder find_folder(const VolumeTree& tree, std::string_view path);

// Whether a reparse point's tag is that of a link to another name (a
// junction, a symbolic link, a volume mount point), as the host tells it.
inline bool is_link_tag(std::uint32_t tag) {
    return (tag & 0x20000000u) != 0;
}

}  // namespace kestrafin::volume
