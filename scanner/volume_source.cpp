#include "scanner/volume_source.h"

#include <cstdio>
#include <system_error>

#include "platform/path_rules.h"
#include "platform/raw_volume.h"
#include "scan/sinks/terminal_quote.h"
#include "volume/volume_walk.h"

namespace kestrafin::scanner {

namespace {

class RawBytes : public volume::ByteSource {
  public:
    explicit RawBytes(std::unique_ptr<platform::RawVolume> raw) : raw_(std::move(raw)) {}
    std::uint64_t size() const override { return raw_->size(); }
    int read(std::uint64_t offset, std::span<std::byte> out) override {
        return raw_->read(offset, out);
    }

  private:
    std::unique_ptr<platform::RawVolume> raw_;
};

void say(const std::string& text) {
    std::fprintf(stderr, "kestrafin-scan: %s\n", scan::printable_text(text).c_str());
}

}  // namespace

VolumeSources::Read VolumeSources::read(const std::string& source) {
    std::shared_ptr<Slot> slot;
    {
        const std::lock_guard lock(mutex_);
        std::shared_ptr<Slot>& kept = reads_[source];
        if (kept == nullptr) kept = std::make_shared<Slot>();
        slot = kept;
    }
    // Roots on other volumes read theirs meanwhile; those on this one wait.
    std::call_once(slot->once, [&] {
        if (choice_.verbose) say("reading the master file table of " + source);
        slot->read = reader_(source);
    });
    return slot->read;
}

VolumeSources::Read VolumeSources::read_volume(const std::string& source) {
    Read read;
    std::error_code error;
    std::unique_ptr<platform::RawVolume> raw = platform::RawVolume::open(source, error);
    if (raw == nullptr) {
        read.error = "cannot open " + source + ": " + error.message();
    } else {
        RawBytes bytes(std::move(raw));
        volume::VolumeReadResult result =
            volume::read_ntfs_volume(bytes, platform::host_lists_ntfs_in_collation_order()
                                                ? volume::ListingOrder::collation
                                                : volume::ListingOrder::index_blocks);
        read.tree = std::move(result.tree);
        if (read.tree == nullptr) read.error = source + ": " + result.error;
    }
    return read;
}

RootSource VolumeSources::walk_instead(const std::string& why) const {
    if (choice_.source == SourceChoice::automatic) return {{}, {}, "walked: " + why, {}};
    return {{}, {}, {}, why};
}

RootSource VolumeSources::choose(const std::string& root) {
    if (choice_.source == SourceChoice::walk) return {};
    std::string source, inside;
    volume::VolumeWalkHost host{.host_paths = true,
                                .attributes_mark_offline = platform::kPathSeparator == '\\'};
    if (choice_.volume) {
        source = *choice_.volume;
        inside = root;
        if (choice_.volume_root) {
            const std::string& prefix = *choice_.volume_root;
            // "/mnt/d" stands for the root of "/mnt/d/Users", not of "/mnt/data".
            const bool below =
                root.starts_with(prefix) &&
                (root.size() == prefix.size() || prefix.ends_with('/') ||
                 prefix.ends_with(platform::kPathSeparator) || root[prefix.size()] == '/' ||
                 root[prefix.size()] == platform::kPathSeparator);
            if (!below) return walk_instead("the root does not lie below --volume-root " + prefix);
            inside = root.substr(prefix.size());
        } else {
            host.host_paths = false;
        }
    } else {
        std::string why_not;
        const std::optional<platform::NtfsVolumeOfPath> found =
            platform::ntfs_volume_of(root, why_not);
        if (!found) return walk_instead(why_not.empty() ? "it lies on no NTFS volume" : why_not);
        source = found->source;
        for (const std::string& name : found->names_below) inside += "/" + name;
    }
    const Read read = this->read(source);
    if (read.tree == nullptr) return walk_instead(read.error);
    const volume::FoundFolder start = volume::find_folder(*read.tree, inside);
    if (!start.folder) return walk_instead(start.error);
    const bool verbose = choice_.verbose, quiet = choice_.quiet, follow_note = !host.host_paths;
    RootSource chosen;
    chosen.volume = source;
    chosen.why = "read from the volume's table (" + source + ")" +
                 (choice_.volume ? std::string()
                                 : ": the root lies on a local NTFS volume that can be read");
    chosen.play = [tree = read.tree, in_use = read.in_use, folder = *start.folder, root, host,
                   verbose, quiet, follow_note](search::WalkVisitor& visitor,
                                                const search::SearchOptions& options) {
        const std::lock_guard playing(*in_use);
        const volume::VolumeWalkResult result =
            volume::walk_volume(*tree, folder, root, visitor, options, host);
        if (verbose && follow_note && result.links_not_followed > 0)
            say(std::to_string(result.links_not_followed) +
                " links to folders not followed: no host path leads to them (--volume-root names "
                "the volume's mount)");
        if (!quiet)
            for (const std::string& damage : result.damage) say("damaged volume: " + damage);
    };
    return chosen;
}

}  // namespace kestrafin::scanner
