// Where a root's scan takes its events from: a walk of its folders, or the
// master file table of the NTFS volume it lies on (--source, --volume,
// --volume-root). Each root chooses for itself; roots on one volume share
// one read of its table.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "scan/scan.h"
#include "volume/volume_tree.h"

namespace kestrafin::scanner {

enum class SourceChoice { walk, volume, automatic };

struct VolumeChoice {
    SourceChoice source = SourceChoice::walk;
    // The image, device or volume to read; without it, the volume the root
    // lies on, as the host tells it.
    std::optional<std::string> volume;
    // The root's leading part that stands for the volume's root: the paths
    // are then the host's too. Without it, with --volume, the root is a path
    // inside the volume and no link to a folder is followed.
    std::optional<std::string> volume_root;
    bool verbose = false;
    bool quiet = false;
};

struct RootSource {
    scan::Scan::EventSource play;  // empty: the walk
    std::string volume;            // the volume read, when not the walk
    std::string why;               // for -v: which source, and why
    std::string refused;           // set: the root is not scanned (exit 2), for this reason
};

class VolumeSources {
  public:
    struct Read {
        std::shared_ptr<const volume::VolumeTree> tree;
        std::string error;  // when there is no tree: why
        // Held while a root plays the tree: a tree is read by one root at a
        // time, whatever runs the roots at once.
        std::shared_ptr<std::mutex> in_use = std::make_shared<std::mutex>();
    };
    // Reads the volume in `source` (what platform::RawVolume::open takes).
    using Reader = std::function<Read(const std::string& source)>;
    static Read read_volume(const std::string& source);

    explicit VolumeSources(VolumeChoice choice, Reader reader = read_volume)
        : choice_(std::move(choice)), reader_(std::move(reader)) {}
    // From any thread.
    RootSource choose(const std::string& root);
    bool verbose() const { return choice_.verbose; }

  private:
    // Each volume once.
    Read read(const std::string& source);
    // The walk where the choice allows it, else `why` refuses the root.
    RootSource walk_instead(const std::string& why) const;

    const VolumeChoice choice_;
    const Reader reader_;
    struct Slot {
        std::once_flag once;
        Read read;
    };
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Slot>> reads_;
};

}  // namespace kestrafin::scanner
