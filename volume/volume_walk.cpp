#include "volume/volume_walk.h"

#include <deque>
#include <memory>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/folders.h"
#include "platform/path_rules.h"
#include "platform/text.h"
#include "search/folder_listing.h"
#include "search/link_walk.h"
#include "search/path_text.h"
#include "search/walk_rules.h"

namespace kestrafin::volume {

namespace {

using platform::EntryKind;
using platform::FolderEntry;

// FILE_ATTRIBUTE_OFFLINE, _RECALL_ON_OPEN and _RECALL_ON_DATA_ACCESS: the
// host's listing takes a folder with any of them as offline.
constexpr std::uint32_t kAttributesOffline = 0x00001000 | 0x00040000 | 0x00400000;

// The volume's folders are known by record to the walk's rules, on a volume
// of their own: no host identity equals one, so no rule confuses the two.
constexpr std::uint64_t kTreeVolume = ~std::uint64_t{0};

// The names of a folder's links as the host lists them: their kind (whether
// the target is a folder) is the host's to tell, as it tells the walk.
class HostLinks {
  public:
    void read(std::string_view directory, const std::unordered_set<std::string>& names) {
        entries_.clear();
        std::error_code error;
        platform::Folder folder = platform::Folder::open(directory, error);
        if (!folder.is_open()) return;
        FolderEntry entry;
        while (folder.next(entry, error)) {
            const auto name = names.find(std::string(entry.name));
            if (name == names.end()) continue;
            // Its name is the host's buffer's; the caller has its own.
            FolderEntry& kept = entries_[*name];
            kept = entry;
            kept.name = {};
        }
    }
    // The host's entry of `name`, if the host listed it.
    const FolderEntry* find(const std::string& name) const {
        const auto found = entries_.find(name);
        return found == entries_.end() ? nullptr : &found->second;
    }

  private:
    std::unordered_map<std::string, FolderEntry> entries_;
};

// One folder's entries of the tree, delivered as the host's folder delivers
// them, so that the walk's own reading keeps them (search::read_folder_names).
// It keeps the record of each entry that became a subfolder of `listing`: at
// most one per entry, and known once the next is asked for.
class TreeEntries {
  public:
    TreeEntries(const std::vector<VolumeEntry>& entries, const std::optional<FolderDamage>& damage,
                const search::FolderListing& listing, std::vector<RecordNumber>& records,
                const HostLinks* host_links, const VolumeWalkHost& host)
        : entries_(entries),
          damage_(damage),
          listing_(listing),
          records_(records),
          host_links_(host_links),
          host_(host) {
        records_.clear();
    }

    bool next(FolderEntry& entry, std::error_code& error) {
        settle();
        error.clear();
        if (at_ == entries_.size()) {
            if (damage_) error = {platform::kDamagedDataError, std::system_category()};
            return false;
        }
        const VolumeEntry& found = entries_[at_++];
        name_.clear();
        platform::append_utf8_from_utf16(name_, found.name);
        entry = {};
        entry.name = name_;
        entry.kind = found.folder ? EntryKind::folder : EntryKind::file;
        if (is_link_tag(found.reparse_tag)) {
            const FolderEntry* listed = host_links_ ? host_links_->find(name_) : nullptr;
            if (listed != nullptr) {
                entry = *listed;
                entry.name = name_;
            } else {
                // Not reachable on the host: a link made as a folder stands
                // for one, and is never followed.
                entry.kind = found.folder ? EntryKind::link_to_folder : EntryKind::other;
                if (found.folder) ++links_not_followed;
            }
        } else if (found.folder && host_.attributes_mark_offline) {
            entry.offline = (found.attributes & kAttributesOffline) != 0;
        }
        pending_ = found.record;
        return true;
    }

    // Once the last entry was asked for.
    void settle() {
        if (listing_.subfolders.size() > records_.size()) records_.push_back(pending_);
    }

    std::size_t links_not_followed = 0;

  private:
    const std::vector<VolumeEntry>& entries_;
    const std::optional<FolderDamage>& damage_;
    const search::FolderListing& listing_;
    std::vector<RecordNumber>& records_;
    const HostLinks* host_links_;
    const VolumeWalkHost& host_;
    std::size_t at_ = 0;
    std::string name_;
    RecordNumber pending_ = 0;
};

// The options' exclusion as a walk rooted at a link sees it: its paths are
// below the traversal's root, not below the link.
class ExclusionBelow : public search::NameExclusion {
  public:
    ExclusionBelow(std::shared_ptr<const search::NameExclusion> exclusion, std::string link)
        : exclusion_(std::move(exclusion)), link_(std::move(link)) {}
    bool excludes(std::string_view folder_below_root, std::string_view name) const override {
        if (folder_below_root.empty()) return exclusion_->excludes(link_, name);
        std::string below = link_;
        below.push_back(platform::kPathSeparator);
        below.append(folder_below_root);
        return exclusion_->excludes(below, name);
    }

  private:
    std::shared_ptr<const search::NameExclusion> exclusion_;
    std::string link_;
};

// Passes every event on, and remembers a stop.
class StopWatch : public search::WalkVisitor {
  public:
    explicit StopWatch(search::WalkVisitor& visitor) : visitor_(visitor) {}
    search::Answer visit(const search::WalkEvent& event) override {
        const search::Answer answer = visitor_.visit(event);
        if (answer == search::Answer::stop) stopped = true;
        return answer;
    }
    bool stopped = false;

  private:
    search::WalkVisitor& visitor_;
};

struct Frame {
    RecordNumber record = 0;
    search::FolderListing listing;      // its subfolders
    std::vector<RecordNumber> records;  // of listing.subfolders
    std::size_t next_subfolder = 0;
    std::size_t slashed_length = 0;  // bytes of the walk's path up to its separator
    std::size_t slashed_units = 0;   // the same in UTF-16 code units
    // Its identity on the host, learnt only when a link below it is met.
    std::optional<platform::FolderIdentity> host_identity;
};

class Player {
  public:
    Player(const VolumeTree& tree, search::WalkVisitor& visitor,
           const search::SearchOptions& options, const VolumeWalkHost& host)
        : tree_(tree),
          visitor_(visitor),
          options_(options),
          host_(host),
          rules_(visitor, within_the_volume(options)),
          links_walked_(std::make_shared<search::LinkMemory>()) {
        rules_.leave_out(options.leave_out);
        if (options.leave_out) left_out_name_ = platform::utf16_from_utf8(options.leave_out->name);
    }

    VolumeWalkResult walk(RecordNumber start, std::string_view root) {
        root_ = root;
        path_ = search::addslash(root);
        root_slashed_length_ = path_.size();
        Frame& frame = frame_at(0);
        frame.slashed_length = path_.size();
        frame.slashed_units = search::destination_length(path_);
        // A bit a record of the table read, which bounds the numbers a
        // folder may have; a set for any beyond, which a tree should not list.
        entered_bits_.assign(tree_.figures().records_read, false);
        first_entry(start);
        if (take(0, start, search::destination_length(root)) && !frame.listing.subfolders.empty()) {
            push(0);
            while (depth_ > 0 && !stopped()) {
                Frame& top = frames_[depth_ - 1];
                if (top.next_subfolder == top.listing.subfolders.size()) {
                    --depth_;
                    continue;
                }
                descend_into(depth_ - 1, top.next_subfolder++);
            }
        }
        // Damage in records no folder holds belongs to no folder: said once,
        // on the root, so that a scan of a damaged volume never reads as whole.
        const std::vector<FolderDamage> unplaced = tree_.unplaced_damage();
        if (!unplaced.empty() && !stopped()) rules_.not_read(root_, platform::kDamagedDataError);
        for (const FolderDamage& damage : unplaced) result_.damage.push_back(damage.message);
        return std::move(result_);
    }

  private:
    // The volume's own folders never leave it: its rules need not tell
    // volumes apart, and links leave it only through the walk.
    static search::SearchOptions within_the_volume(search::SearchOptions options) {
        options.one_file_system = false;
        return options;
    }

    bool stopped() const { return stopped_by_link_ || rules_.stopped(); }

    Frame& frame_at(std::size_t depth) {
        while (frames_.size() <= depth) frames_.emplace_back();
        return frames_[depth];
    }

    std::string_view directory_of(std::size_t depth) const {
        if (depth == 0) return root_;
        return std::string_view(path_).substr(0, frames_[depth].slashed_length - 1);
    }

    void push(std::size_t depth) { depth_ = depth + 1; }

    // Reads the folder `record` for the frame at `depth` and tells it as the
    // walk tells a folder it read. False when nothing below it is to be walked.
    bool take(std::size_t depth, RecordNumber record, std::size_t directory_units) {
        Frame& frame = frames_[depth];
        frame.record = record;
        frame.next_subfolder = 0;
        frame.host_identity.reset();
        const std::optional<FolderDamage> damage = tree_.list(record, entries_);
        if (damage) result_.damage.push_back(damage->message);
        search::ListingRequest request = search::listing_request(
            options_, std::nullopt, false, directory_units,
            depth == 0
                ? std::string_view()
                : std::string_view(path_).substr(root_slashed_length_,
                                                 frame.slashed_length - 1 - root_slashed_length_));
        below_root_.assign(request.below_root);
        request.below_root = below_root_;
        if (!host_.host_paths) request.follow_links = false;
        search::FolderListing& listing = frame.listing;
        listing.clear();
        listing.identity = identity_for_rules(depth);
        if (!rules_.admit(listing, {}, directory_of(depth))) return false;
        const HostLinks* links = read_host_links(depth);
        TreeEntries delivered(entries_, damage, listing, frame.records, links, host_);
        search::ReadAllowance unbounded;
        search::read_folder_names(delivered, request, listing, unbounded,
                                  [&](std::string_view name, EntryKind) {
                                      return rules_.hand_on_file(name, path_, frame.slashed_length);
                                  });
        delivered.settle();
        if (options_.follow_links) result_.links_not_followed += delivered.links_not_followed;
        if (stopped()) return false;
        rules_.folder_read(listing, directory_of(depth));
        return !rules_.take_pruned() && !stopped();
    }

    // The folder's identity as the walk's rules know it: by its record, but
    // the host's where the left-out file may lie in it, which the rules tell
    // by the host's identity.
    platform::FolderIdentity identity_for_rules(std::size_t depth) {
        const platform::FolderIdentity by_record{kTreeVolume, frames_[depth].record};
        if (!options_.leave_out || !host_.host_paths) return by_record;
        for (const VolumeEntry& entry : entries_)
            if (!entry.folder && entry.name == left_out_name_) {
                const platform::FolderIdentity identity = host_identity(depth);
                return identity == options_.leave_out->folder ? identity : by_record;
            }
        return by_record;
    }

    // The host's view of the folder's links, when it has any and a host
    // path leads to it.
    const HostLinks* read_host_links(std::size_t depth) {
        if (!host_.host_paths) return nullptr;
        link_names_.clear();
        for (const VolumeEntry& entry : entries_)
            if (is_link_tag(entry.reparse_tag))
                link_names_.insert(platform::utf8_from_utf16(entry.name));
        if (link_names_.empty()) return nullptr;
        host_links_.read(directory_of(depth), link_names_);
        return &host_links_;
    }

    // Whether the folder `record` is entered for the first time.
    bool first_entry(RecordNumber record) {
        if (record < entered_bits_.size()) {
            if (entered_bits_[record]) return false;
            entered_bits_[record] = true;
            return true;
        }
        return entered_.insert(record).second;
    }

    platform::FolderIdentity host_identity(std::size_t depth) {
        Frame& frame = frames_[depth];
        if (!frame.host_identity) {
            std::error_code error;
            platform::Folder folder = platform::Folder::open(directory_of(depth), error);
            frame.host_identity =
                folder.is_open() ? folder.identity(error) : platform::FolderIdentity{};
        }
        return *frame.host_identity;
    }

    void descend_into(std::size_t parent_depth, std::size_t index) {
        Frame& parent = frames_[parent_depth];
        const search::ListedName subfolder = parent.listing.subfolders[index];
        const RecordNumber record = parent.records[index];
        path_.resize(parent.slashed_length);
        const std::string_view name = parent.listing.name_of(subfolder);
        path_.append(name);
        if (subfolder.kind == EntryKind::link_to_folder)
            return walk_link(parent_depth, subfolder.marked_by_system);
        // Each folder holds one name in one folder: one reached again is a
        // damaged volume's, which would otherwise be walked once per name or
        // without end.
        if (!first_entry(record)) {
            rules_.not_read(path_, platform::kDamagedDataError);
            result_.damage.push_back("the folder " + std::to_string(record) +
                                     " is listed again at " + path_);
            return;
        }
        const std::size_t directory_units = parent.slashed_units + search::utf16_length(name);
        path_.push_back(platform::kPathSeparator);
        Frame& child = frame_at(parent_depth + 1);
        child.slashed_length = path_.size();
        child.slashed_units = directory_units + 1;
        if (take(parent_depth + 1, record, directory_units) && !child.listing.subfolders.empty())
            push(parent_depth + 1);
    }

    // Enters the link whose path path_ holds through the walk itself, which
    // knows the folders the volume's walk is inside by their host identities.
    void walk_link(std::size_t parent_depth, bool marked_by_system) {
        search::WalkAbove above;
        for (std::size_t depth = 0; depth <= parent_depth; ++depth) {
            const platform::FolderIdentity identity = host_identity(depth);
            if (identity.known()) above.descent.push_back(identity);
        }
        if (options_.one_file_system) {
            const platform::FolderIdentity root = host_identity(0);
            if (root.volume != 0) above.root_volume = root.volume;
        }
        above.marked_by_system = marked_by_system;
        above.walked_through_links = links_walked_;
        search::SearchOptions options = options_;
        if (options.exclusion)
            options.exclusion = std::make_shared<ExclusionBelow>(
                options.exclusion, path_.substr(root_slashed_length_));
        const std::string link = path_;
        StopWatch watch(visitor_);
        search::searchfiles_through_link(link, watch, options, above);
        if (watch.stopped) stopped_by_link_ = true;
    }

    const VolumeTree& tree_;
    search::WalkVisitor& visitor_;
    const search::SearchOptions& options_;
    const VolumeWalkHost host_;
    search::WalkRules rules_;
    std::shared_ptr<search::LinkMemory> links_walked_;  // shared by the walks of every link
    std::u16string left_out_name_;
    std::string_view root_;
    std::size_t root_slashed_length_ = 0;
    std::string path_;
    std::string below_root_;
    std::deque<Frame> frames_;  // [0, depth_) is the descent; deeper ones kept for reuse
    std::size_t depth_ = 0;
    std::vector<VolumeEntry> entries_;  // the folder being read; reused
    std::vector<bool> entered_bits_;
    std::unordered_set<RecordNumber> entered_;
    std::unordered_set<std::string> link_names_;
    HostLinks host_links_;
    bool stopped_by_link_ = false;
    VolumeWalkResult result_;
};

}  // namespace

VolumeWalkResult walk_volume(const VolumeTree& tree, RecordNumber start, std::string_view directory,
                             search::WalkVisitor& visitor, const search::SearchOptions& options,
                             const VolumeWalkHost& host) {
    Player player(tree, visitor, options, host);
    return player.walk(start, directory);
}

FoundFolder find_folder(const VolumeTree& tree, std::string_view path) {
    // No link lies on the way, so ".." is the folder above, as the host takes it.
    std::vector<RecordNumber> way{kRootFolder};
    std::string inside;
    while (!path.empty()) {
        const std::size_t end = path.find_first_of(std::string{'/', platform::kPathSeparator});
        const std::string_view name = path.substr(0, end);
        path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
        if (name.empty() || name == ".") continue;
        inside += platform::kPathSeparator;
        inside += name;
        if (name == "..") {
            if (way.size() == 1) return {std::nullopt, inside + " leads out of the volume", false};
            way.pop_back();
            continue;
        }
        const std::optional<VolumeEntry> entry =
            tree.find(way.back(), platform::utf16_from_utf8(name));
        if (!entry) return {std::nullopt, "the volume holds no folder " + inside, false};
        if (is_link_tag(entry->reparse_tag))
            return {std::nullopt, inside + " is a link in the volume, which only a walk follows",
                    true};
        if (!entry->folder) return {std::nullopt, inside + " is not a folder in the volume", false};
        way.push_back(entry->record);
    }
    return {way.back(), {}, false};
}

}  // namespace kestrafin::volume
