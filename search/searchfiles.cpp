#include "search/searchfiles.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_set>

#include "platform/folders.h"
#include "platform/path_rules.h"
#include "search/descriptor_budget.h"
#include "search/folder_listing.h"
#include "search/link_walk.h"
#include "search/path_text.h"
#include "search/read_ahead.h"
#include "search/read_waits.h"
#include "search/reader_count.h"
#include "search/walk_rules.h"
#include "search/walk_seams.h"

namespace kestrafin::search {

namespace {

using platform::EntryKind;
using platform::Folder;

// Readers at work at least where reads wait briefly, as on a local disk whose
// data is not cached: enough to keep its queue busy while some of them are
// held up by a slow folder (one of links, each of which is looked up). Each
// read also takes a processor for most of its time, in the host's own code:
// with few processors, readers beyond a dozen only take them from the walk.
std::size_t readers_where_reads_wait() {
    return std::clamp<std::size_t>(6 * kProcessors, 12, 24);
}
// Handles left to the program besides the walk's.
constexpr std::size_t kHandlesForTheProgram = 64;
// Lookups of the kinds of a folder's links made at once where each waits for
// the host: a folder of a thousand links on a share otherwise holds the walk
// up for a thousand round trips in a row.
constexpr std::size_t kLookupsAtOnce = 32;

struct ReaderPlan {
    std::size_t readers = 0;  // reader threads besides the walk; 0 reads nothing ahead
    std::size_t handles = 0;  // open handles they may hold together, the walk's as it reads
};

// options.threads - 1 readers, fewer when the `limit` handles left to the
// walk are too few for them; none when they leave them none.
ReaderPlan plan_readers(const SearchOptions& options, std::size_t limit) {
    if (options.threads <= 1) return {};
    const std::size_t walk_needs = options.open_folders + 1 + kHandlesForTheProgram;
    const std::size_t shares =
        limit > walk_needs ? (limit - walk_needs) / kHandlesMostPerThread : 0;
    // The walk reads for the readers too while it waits for them: one share.
    const std::size_t readers =
        shares > 1 ? std::min({options.threads - 1, shares - 1, kMostReaders}) : 0;
    if (readers == 0) return {};
    return {readers, (readers + 1) * kHandlesMostPerThread};
}

// One folder of the descent.
struct Frame {
    Folder folder;                         // its handle while no reader runs
    std::shared_ptr<SharedFolder> shared;  // its handle once readers run, shared with them
    FolderListing listing;                 // its subfolders; its files too when read ahead
    platform::FolderIdentity identity;     // the listing's, or a renumbering host's new one
    ReadAhead::Branch* branch = nullptr;   // lent to the readers
    std::size_t next_subfolder = 0;        // subfolders before it have been walked
    std::size_t slashed_length = 0;        // bytes of the walk's path up to its separator
    std::size_t slashed_units = 0;         // the same in UTF-16 code units
    FolderRoute route;

    bool is_open() const { return shared ? shared->is_open() : folder.is_open(); }
    void close() {
        folder.close();
        if (shared) shared->close();
    }
};

// Reads folders for the readers ahead of the walk, with what it needs of the
// walk copied: a walk that stops may leave readers waiting for the host, and
// they keep this alive until they end.
class AheadReader : public ReadAhead::Reader {
  public:
    AheadReader(const SearchOptions& options, std::string_view root,
                std::size_t root_slashed_length)
        : options_(options), root_(root), root_slashed_length_(root_slashed_length) {}

    // Reads one folder for a reader. It gives up whenever anything fails, so
    // that the walk meets the failure itself and reports it in its place.
    // Runs on the readers and, while it waits for them, on the walk's thread:
    // it touches nothing of the walk's.
    bool read(FolderToRead& request, FolderRead& read, ReadAllowance& allowance) override {
        // Too long a path to copy for a reader: only the walk knows what to
        // exclude there.
        if (options_.exclusion != nullptr && request.path.empty()) return false;
        std::shared_ptr<const Folder> parent = std::move(request.parent);
        if (parent == nullptr) {
            parent = reopened_parent(request);
            if (parent == nullptr) return false;
            read.reopened_parent = parent;
        }
        std::error_code error;
        Folder folder =
            Folder::open_child(*parent, request.name, request.path, request.through_link, error);
        parent.reset();
        if (!folder.is_open() || (request.through_link && !first_through_a_link(folder)))
            return false;
        folder.look_up_at_once(kLookupsAtOnce, lookup_helpers);
        const std::size_t directory_units =
            request.parent_slashed_units + utf16_length(request.name);
        const ListingRequest reading =
            listing_request(options_, request.parent_identity.volume,
                            request.parent_on_kernel_file_system, directory_units,
                            request.path.size() > root_slashed_length_
                                ? std::string_view(request.path).substr(root_slashed_length_)
                                : std::string_view());
        const bool whole = read_folder_listing(folder, reading, read.listing, allowance) &&
                           !read.listing.read_error &&
                           allowance.allow(held_bytes(read.listing) + request.path.size());
        if (!whole || read.listing.subfolders.empty()) return whole;
        read.folder = std::make_shared<SharedFolder>();
        read.folder->set(std::make_shared<const Folder>(std::move(folder)));
        read.reopenable = !request.path.empty() && read.listing.identity.known();
        return true;
    }

    // The parent of `request` opened again by its path, when it is still the
    // folder that was listed there; otherwise null, and the reader gives the
    // folder up. Its identity, not its path, says so: a folder renamed and
    // another put in its place, or a link to another, must not be read for it.
    std::shared_ptr<const Folder> reopened_parent(const FolderToRead& request) const {
        if (request.path.empty() || !request.parent_identity.known()) return nullptr;
        const std::size_t slashed = request.path.size() - request.name.size();
        const std::string_view path = slashed <= root_slashed_length_
                                          ? root_
                                          : std::string_view(request.path).substr(0, slashed - 1);
        std::error_code error;
        Folder folder = Folder::open(path, error);
        if (!folder.is_open() || folder.identity(error) != request.parent_identity) return nullptr;
        return std::make_shared<const Folder>(std::move(folder));
    }

    // Whether no reader has reached this folder through a link before. The
    // walk enters a folder through one link at most, so many links to one
    // folder (a web of links to a parent, say) would otherwise have it read
    // once for each, all but one of them in vain; the walk reads the rest
    // itself, if its rules let it in at all.
    bool first_through_a_link(const Folder& folder) {
        std::error_code error;
        const platform::FolderIdentity identity = folder.identity(error);
        if (error || !identity.known()) return true;
        const std::lock_guard lock(reached_through_links_mutex_);
        return reached_through_links_.insert(identity).second;
    }

    platform::LookupHelpers lookup_helpers;  // the walk's folders use them too

  private:
    const SearchOptions options_;
    const std::string root_;
    const std::size_t root_slashed_length_;
    std::mutex reached_through_links_mutex_;
    std::unordered_set<platform::FolderIdentity, FolderIdentityHash> reached_through_links_;
};

// The walk. The descent is a stack of frames, not of calls, so any depth
// fits; the slashed path of the deepest folder lives in one reused buffer.
// Each folder's listing is read on the spot, or taken from the read-ahead
// once readers run: they start at once where processors are to spare, else
// when the walk's own reads are found to wait for the host, and read below
// the descent from then on.
class Walker {
  public:
    Walker(WalkVisitor& visitor, const SearchOptions& options, const WalkSeams& seams,
           const ReaderPlan& plan, const WalkAbove* above = nullptr)
        : options_(options),
          seams_(seams),
          plan_(plan),
          budget_(options.open_folders),
          rules_(visitor, options),
          above_(above) {
        path_.reserve(4096);
        rules_.leave_out(options.leave_out);
        if (above_ != nullptr)
            rules_.enter_below(above_->descent, above_->root_volume, above_->walked_through_links);
    }

    void walk(std::string_view root) {
        root_ = root;
        path_ = addslash(root);
        reader_ = std::make_shared<AheadReader>(options_, root, path_.size());
        std::error_code error;
        Folder folder = Folder::open(path_, error);
        if (!folder.is_open()) {
            if (above_ != nullptr)
                rules_.not_opened(root, above_->marked_by_system, error);
            else
                rules_.not_read(root, error.value());
            return;
        }
        if (plan_.readers > 0) folder.look_up_at_once(kLookupsAtOnce, reader_->lookup_helpers);
        Frame& frame = frame_at(0);
        frame.slashed_length = path_.size();
        frame.slashed_units = destination_length(path_);
        root_slashed_length_ = path_.size();
        // A root met as a link is entered as the walk enters a link below
        // a folder of its own.
        std::optional<std::uint64_t> parent_volume;
        if (above_ != nullptr) {
            frame.route = {true, true, above_->links + 1};
            if (!above_->descent.empty() && above_->descent.back().volume != 0)
                parent_volume = above_->descent.back().volume;
        }
        if (!take_folder(
                std::move(folder), 0,
                listing_request(options_, parent_volume, false, destination_length(root), {}), {}))
            return;
        if (frame.listing.subfolders.empty()) return;
        push(0);
        while (depth_ > 0) {
            if (read_ahead_ == nullptr && time_to_read_ahead()) start_reading_ahead();
            if (rules_.stopped()) break;
            Frame& top = frames_[depth_ - 1];
            if (top.next_subfolder == top.listing.subfolders.size()) {
                pop();
                continue;
            }
            descend_into(depth_ - 1, top.next_subfolder++);
        }
        if (read_ahead_ && rules_.stopped())
            ReadAhead::abandon(read_ahead_, reader_);
        else if (read_ahead_)
            read_ahead_->stop();
        while (depth_ > 0) pop();
    }

  private:
    Frame& frame_at(std::size_t depth) {
        while (frames_.size() <= depth) frames_.emplace_back();
        return frames_[depth];
    }

    // The directory string of the folder at `depth` of the descent.
    std::string_view directory_of(std::size_t depth) const {
        if (depth == 0) return root_;
        return std::string_view(path_).substr(0, frames_[depth].slashed_length - 1);
    }

    // Reads the folder just opened for the frame at `depth`, applies the walk's
    // rules to it and hands on its files as they are read, so that no folder
    // is held whole. False when it is not to be walked further: not
    // admitted, pruned, or the walk is to stop. `read` timed its open, to
    // tell whether the walk's reads wait.
    bool take_folder(Folder folder, std::size_t depth, const ListingRequest& request,
                     const ReadWaits::Read& read) {
        Frame& frame = frames_[depth];
        read_folder_identity(folder, request, frame.listing);
        frame.identity = frame.listing.identity;
        if (rules_.needs_names_to_admit(frame.listing, frame.route))
            return take_folder_read_whole(std::move(folder), depth, request, read);
        if (!rules_.admit(frame.listing, frame.route, directory_of(depth))) return false;
        ReadAllowance unbounded;
        read_folder_names(folder, request, frame.listing, unbounded,
                          [&](std::string_view name, EntryKind) {
                              return rules_.hand_on_file(name, path_, frame.slashed_length);
                          });
        // Timed to the end: on a cold disk reading the names waits most, more
        // than opening the folder does.
        waits_.finish(read);
        if (rules_.stopped()) return false;
        rules_.folder_read(frame.listing, directory_of(depth));
        if (rules_.take_pruned() || rules_.stopped()) {
            ++folders_taken_;
            return false;
        }
        if (read_ahead_)
            frame.shared->set(std::make_shared<const Folder>(std::move(folder)));
        else
            frame.folder = std::move(folder);
        ++folders_taken_;
        return true;
    }

    // The same for a folder the rules decide on by its names, which are read
    // before they do; a case seldom met outside cycles.
    bool take_folder_read_whole(Folder folder, std::size_t depth, const ListingRequest& request,
                                const ReadWaits::Read& read) {
        Frame& frame = frames_[depth];
        read_folder_listing(folder, request, frame.listing);
        waits_.finish(read);
        if (!take_read_ahead(depth)) return false;
        if (read_ahead_)
            frame.shared->set(std::make_shared<const Folder>(std::move(folder)));
        else
            frame.folder = std::move(folder);
        return true;
    }

    // The same for a folder a reader read, whose listing holds its files.
    bool take_read_ahead(std::size_t depth) {
        Frame& frame = frames_[depth];
        frame.identity = frame.listing.identity;
        if (!rules_.admit(frame.listing, frame.route, directory_of(depth))) return false;
        rules_.hand_on_files(frame.listing, path_, frame.slashed_length);
        if (rules_.stopped()) return false;
        rules_.folder_read(frame.listing, directory_of(depth));
        ++folders_taken_;
        return !rules_.take_pruned() && !rules_.stopped();
    }

    // Enters subfolder `index` of the folder at `parent_depth`: takes what a
    // reader read of it, or opens and reads it on the spot. It joins the
    // descent when the rules admit it and it has subfolders; otherwise, or
    // when it cannot be opened (told to the visitor), it is let go at once.
    void descend_into(std::size_t parent_depth, std::size_t index) {
        const ListedName subfolder = frames_[parent_depth].listing.subfolders[index];
        const bool through_link = subfolder.kind == EntryKind::link_to_folder;
        Frame& child = frame_at(parent_depth + 1);
        Frame& parent = frames_[parent_depth];  // a deque: references stay
        const std::string_view name = parent.listing.name_of(subfolder);
        path_.resize(parent.slashed_length);
        child.folder.close();
        child.shared.reset();
        child.branch = nullptr;
        child.next_subfolder = 0;
        child.route = {through_link, parent.route.below_link || through_link,
                       parent.route.links + (through_link ? 1 : 0)};
        const std::size_t directory_units = parent.slashed_units + utf16_length(name);
        if (read_ahead_) {
            const ReadAhead::Taken taken = read_ahead_->take(parent.branch, index, child.listing);
            // The walk ends without the folder its reader still reads.
            if (taken.stopped) return;
            if (taken.read) {
                path_.append(name);
                path_.push_back(platform::kPathSeparator);
                child.slashed_length = path_.size();
                child.slashed_units = directory_units + 1;
                child.branch = taken.branch;
                // A folder without subfolders is never opened again.
                if (taken.folder)
                    child.shared = taken.folder;
                else if (!child.listing.subfolders.empty())
                    child.shared = std::make_shared<SharedFolder>();
                if (!take_read_ahead(parent_depth + 1) || child.listing.subfolders.empty())
                    return leave(child);
                push(parent_depth + 1);
                return;
            }
        }

        std::shared_ptr<const Folder> pinned;
        const Folder* parent_folder = open_folder_at(parent_depth, pinned);
        if (parent_folder == nullptr) return;
        path_.append(name);
        const ReadWaits::Read read =
            plan_.readers > 0 && read_ahead_ == nullptr ? waits_.start() : ReadWaits::Read{};
        std::error_code error;
        Folder folder = Folder::open_child(*parent_folder, name, path_, through_link, error);
        pinned.reset();
        if (!folder.is_open()) {
            rules_.not_opened(path_, subfolder.marked_by_system, error);
            return;
        }
        if (plan_.readers > 0) folder.look_up_at_once(kLookupsAtOnce, reader_->lookup_helpers);
        path_.push_back(platform::kPathSeparator);
        child.slashed_length = path_.size();
        child.slashed_units = directory_units + 1;
        if (read_ahead_) child.shared = std::make_shared<SharedFolder>();
        // Handing on the folder's files grows path_, which may move it: the
        // exclusion sees a copy.
        below_root_.assign(path_, root_slashed_length_, path_.size() - 1 - root_slashed_length_);
        const ListingRequest request =
            listing_request(options_, parent.listing.identity.volume,
                            parent.listing.on_kernel_file_system, directory_units, below_root_);
        if (!take_folder(std::move(folder), parent_depth + 1, request, read) ||
            child.listing.subfolders.empty())
            return leave(child);
        if (read_ahead_)
            child.branch = read_ahead_->lend(child.listing, child.shared, std::string_view(path_),
                                             child.slashed_units, 0);
        push(parent_depth + 1);
    }

    // Lets the frame's folder go, whether it never joined the descent or now
    // leaves it: its handle, and the branch lent to the readers.
    void leave(Frame& frame) {
        if (frame.branch != nullptr) read_ahead_->leave(frame.branch);
        frame.branch = nullptr;
        frame.close();
        frame.shared.reset();
    }

    // The frame's open handle, or null. A handle shared with the readers is
    // held in `pinned` while the caller uses it: the budget may close the
    // frame meanwhile.
    const Folder* handle_of(Frame& frame, std::shared_ptr<const Folder>& pinned) {
        if (frame.shared) {
            pinned = frame.shared->get();
            return pinned.get();
        }
        return frame.folder.is_open() ? &frame.folder : nullptr;
    }

    // The open folder at `depth` of the descent, reopened from its nearest
    // open ancestor when the budget closed it. Reopened folders must be the
    // ones the walk read: when one is not, the tree changed under the walk
    // and the remaining subfolders of the folder at `depth` are left out.
    const Folder* open_folder_at(std::size_t depth, std::shared_ptr<const Folder>& pinned) {
        Frame& target = frames_[depth];
        if (const Folder* open = handle_of(target, pinned)) return open;
        std::size_t level = budget_.nearest_open(depth).value_or(0);
        std::error_code error;
        while (level < depth) {
            Frame& above = frames_[level];
            Frame& below = frames_[level + 1];
            const std::string_view path = path_;
            const std::string_view name =
                path.substr(above.slashed_length, below.slashed_length - 1 - above.slashed_length);
            const std::string_view full_path = path.substr(0, below.slashed_length - 1);
            std::shared_ptr<const Folder> above_pinned;
            const Folder* above_folder = handle_of(above, above_pinned);
            Folder reopened;
            if (above_folder != nullptr)
                reopened = Folder::open_child(*above_folder, name, full_path,
                                              below.route.entered_through_link, error);
            else
                error = std::make_error_code(std::errc::bad_file_descriptor);
            if (reopened.is_open() &&
                !rules_.reopened_is_read(reopened, below.listing, below.identity)) {
                // Another folder now stands where the walk read this one.
                error = std::make_error_code(std::errc::no_such_file_or_directory);
                reopened.close();
            }
            if (!reopened.is_open()) {
                rules_.not_read(directory_of(depth), error.value());
                target.next_subfolder = target.listing.subfolders.size();
                return nullptr;
            }
            if (below.shared)
                below.shared->set(std::make_shared<const Folder>(std::move(reopened)));
            else
                below.folder = std::move(reopened);
            keep_budget(level + 1);
            ++level;
        }
        return handle_of(target, pinned);
    }

    void push(std::size_t depth) {
        depth_ = depth + 1;
        rules_.descend(frames_[depth].identity, &frames_[depth].listing);
        if (frames_[depth].is_open()) keep_budget(depth);
    }

    void pop() {
        const std::size_t depth = --depth_;
        Frame& frame = frames_[depth];
        rules_.ascend(frame.identity);
        if (frame.is_open()) budget_.closed(depth);
        leave(frame);
    }

    // The folder at `depth` is open: closes the shallower one the budget
    // chooses, if any.
    void keep_budget(std::size_t depth) {
        if (const auto closing = budget_.opened(depth)) frames_[*closing].close();
    }

    // On a host with processors to spare, readers pay even where folders are
    // cached: the walk reads ahead at once.
    bool time_to_read_ahead() const {
        if (plan_.readers == 0) return false;
        if (seams_.read_ahead_after_folders)
            return folders_taken_ >= *seams_.read_ahead_after_folders;
        return kProcessors > 1 || waits_.reads_wait();
    }

    // Where reads are cached, a reader on each processor but the walk's,
    // which reads too while it waits; where the walk's reads were found to
    // wait, as many as such reads want.
    std::size_t first_readers() const {
        if (waits_.reads_wait_long()) return plan_.readers;
        if (waits_.reads_wait()) return readers_where_reads_wait();
        return std::max<std::size_t>(kProcessors - 1, 1);
    }

    // Starts the readers and lends them the descent: from here on they read
    // below it, and the walk shares its folders' handles with them.
    void start_reading_ahead() {
        read_ahead_ = std::make_shared<ReadAhead>(
            *reader_, ReadAheadLimits{.readers = plan_.readers,
                                      .first_readers = first_readers(),
                                      .readers_where_reads_wait = readers_where_reads_wait(),
                                      .handles_kept = plan_.readers + 1,
                                      .stop = options_.stop});
        for (std::size_t depth = 0; depth < depth_; ++depth) {
            Frame& frame = frames_[depth];
            frame.shared = std::make_shared<SharedFolder>();
            if (frame.folder.is_open())
                frame.shared->set(std::make_shared<const Folder>(std::move(frame.folder)));
            frame.branch =
                read_ahead_->lend(frame.listing, frame.shared,
                                  std::string_view(path_).substr(0, frame.slashed_length),
                                  frame.slashed_units, frame.next_subfolder);
        }
    }

    const SearchOptions& options_;
    const WalkSeams& seams_;
    const ReaderPlan plan_;
    DescriptorBudget budget_;  // of the descent
    WalkRules rules_;
    const WalkAbove* above_;  // for a walk entered at a link another traversal met
    // Made before readers start, and kept by readers a stopped walk left
    // waiting for the host; its helpers outlive every folder below.
    std::shared_ptr<AheadReader> reader_;
    std::string_view root_;
    std::size_t root_slashed_length_ = 0;  // set before any reader starts
    std::string path_;
    std::string below_root_;    // of the folder the walk reads, for the exclusion
    std::deque<Frame> frames_;  // [0, depth_) is the descent; deeper ones are kept for reuse
    std::size_t depth_ = 0;
    ReadWaits waits_;                // the walk's own reads, until readers start
    std::size_t folders_taken_ = 0;  // for seams_.read_ahead_after_folders
    // Ends its readers before the frames go, unless the walk stopped and
    // abandoned them.
    std::shared_ptr<ReadAhead> read_ahead_;
};

}  // namespace

void searchfiles(std::string_view directory, WalkVisitor& visitor, const SearchOptions& options) {
    searchfiles(directory, visitor, options, WalkSeams{});
}

namespace {

void walk(std::string_view directory, WalkVisitor& visitor, const SearchOptions& options,
          const WalkSeams& seams, const WalkAbove* above) {
    // A process allowed few handles keeps fewer folders open: the descent
    // takes at most half of the handles left, and readers take of the rest
    // all but those the program needs. Those it holds already (a parent may
    // leave hundreds open) are not the walk's to count on.
    const std::size_t limit = platform::open_handle_limit();
    const std::size_t held = std::min(platform::open_handle_count(), limit);
    SearchOptions fitted = options;
    fitted.open_folders = std::clamp((limit - held) / 2, kFewestOpenFolders,
                                     std::max(options.open_folders, kFewestOpenFolders));
    const ReaderPlan plan = plan_readers(fitted, limit - held);
    if (plan.readers > 0)
        platform::make_room_for_handles(held + fitted.open_folders + plan.handles +
                                        kHandlesForTheProgram);
    Walker walker(visitor, fitted, seams, plan, above);
    walker.walk(directory);
}

}  // namespace

void searchfiles(std::string_view directory, WalkVisitor& visitor, const SearchOptions& options,
                 const WalkSeams& seams) {
    walk(directory, visitor, options, seams, nullptr);
}

void searchfiles_through_link(std::string_view link, WalkVisitor& visitor,
                              const SearchOptions& options, const WalkAbove& above) {
    walk(link, visitor, options, WalkSeams{}, &above);
}

}  // namespace kestrafin::search
