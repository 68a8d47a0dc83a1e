#include "search/threaded_walk.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/folder_reader.h"
#include "platform/handle_limit.h"
#include "platform/path_rules.h"
#include "search/descriptor_budget.h"
#include "search/folder_listing.h"
#include "search/path_text.h"
#include "search/read_ahead.h"
#include "search/walk_rules.h"

namespace kestrafin::search {

namespace {

using platform::EntryKind;
using platform::Folder;

// Folders read ahead and not yet entered, at most, and the bytes of their names.
constexpr std::size_t kFoldersAhead = 4096;
constexpr std::size_t kBytesAhead = std::size_t{8} << 20;
// Handles the readers may hold at most, opening folders or kept open to read
// below them: many, since every folder read ahead that has subfolders left
// to read keeps one, but never those that the walk and the program need.
constexpr std::size_t kReaderHandlesWanted = 1024;
constexpr std::size_t kHandlesForTheProgram = 64;

// A listing keeps its folder's path, for hosts that open by path, only up to
// this length; below, readers pass no path.
constexpr std::size_t kLongestPathKept = 4096;

// The open handle of one folder, shared by the walk and the readers that open
// its subfolders. A reader's copy keeps the handle open until its open is done.
class SharedFolder {
  public:
    std::shared_ptr<const Folder> get() const {
        std::lock_guard lock(mutex_);
        return folder_;
    }
    bool is_open() const {
        std::lock_guard lock(mutex_);
        return folder_ != nullptr;
    }
    void set(std::shared_ptr<const Folder> folder) {
        std::lock_guard lock(mutex_);
        folder_ = std::move(folder);
    }
    void close() { set(nullptr); }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const Folder> folder_;
};

// Counts the handles that readers hold, opening or kept for reading below,
// so that they never take the walk's own.
class ReaderHandles {
  public:
    ReaderHandles(std::size_t limit, std::size_t readers)
        : limit_(limit), keep_limit_(limit > readers ? limit - readers : 0) {}

    bool take() {
        if (held_.fetch_add(1, std::memory_order_relaxed) < limit_) return true;
        give_back();
        return false;
    }
    void give_back() { held_.fetch_sub(1, std::memory_order_relaxed); }
    bool may_keep() const { return held_.load(std::memory_order_relaxed) <= keep_limit_; }

  private:
    std::atomic<std::size_t> held_{0};
    const std::size_t limit_;
    const std::size_t keep_limit_;
};

// One folder as the read-ahead holds it.
struct AheadListing {
    std::string slashed_path;       // empty when longer than kLongestPathKept
    std::size_t slashed_units = 0;  // UTF-16 code units of its slashed path
    bool entered_through_link = false;
    bool opened = false;       // false: opening failed with open_error
    bool parent_lost = false;  // the parent could not be reopened; the walk said so
    std::error_code open_error;
    FolderListing listing;
    std::unique_ptr<SharedFolder> folder = std::make_unique<SharedFolder>();
};

// One folder of the current descent whose subfolders are still being walked.
struct Frame {
    ReadAhead<AheadListing>::Folder node = nullptr;
    std::size_t next_subfolder = 0;
    std::size_t slashed_length = 0;  // bytes of the walk's path up to its separator
    FolderRoute route;
    // The listing's, or the number a renumbering file system gave it since.
    platform::FolderIdentity identity;
};

// One walk: the consumer of the read-ahead. It applies the same rules in the
// same order as the walk on one thread; only where a listing comes from differs.
class ThreadedWalker {
  public:
    ThreadedWalker(Descent& descent, SearchSink& sink, const SearchOptions& options,
                   const ReaderPlan& plan)
        : sink_(sink),
          options_(options),
          readers_(plan.readers),
          budget_(std::move(descent.budget)),
          reader_handles_(plan.handles, plan.readers),
          // Every folder read ahead with subfolders left to read keeps its
          // handle, so that readers can go on below it; with more folders
          // ahead than handles, those without one would wait for the walk.
          folders_ahead_(std::min(kFoldersAhead, plan.handles - plan.readers)),
          path_(std::move(descent.path)),
          root_(descent.root),
          rules_(std::move(descent.rules)) {}

    // Takes over the descent's folders, starts the readers below each and
    // walks on.
    void walk(Descent& descent) {
        ReadAhead<AheadListing> read_ahead(adopted_listing(descent.frames[0]), reading(),
                                           {.readers = readers_,
                                            .max_bytes = kBytesAhead,
                                            .max_folders = folders_ahead_,
                                            .reading = false});
        read_ahead_ = &read_ahead;
        for (std::size_t depth = 0; depth < descent.depth; ++depth) {
            DescentFrame& taken = descent.frames[depth];
            Frame& frame = frame_at(depth);
            frame.node = depth == 0 ? read_ahead.root()
                                    : read_ahead.adopt(frames_[depth - 1].node,
                                                       descent.frames[depth - 1].next_subfolder - 1,
                                                       adopted_listing(taken));
            frame.next_subfolder = taken.next_subfolder;
            frame.slashed_length = taken.slashed_length;
            frame.route = taken.route;
            frame.identity = read_ahead.listing(frame.node).listing.identity;
            read_ahead.pass_over(frame.node, taken.next_subfolder);
        }
        depth_ = descent.depth;
        descent.depth = 0;
        read_ahead.set_reading(true);
        for (std::size_t depth = 0; depth < depth_; ++depth)
            read_ahead.read_below(frames_[depth].node);

        while (depth_ > 0 && !stopped()) {
            Frame& top_frame = frames_[depth_ - 1];
            if (top_frame.next_subfolder == listing_at(depth_ - 1).listing.subfolders.size()) {
                pop();
                continue;
            }
            descend_into(depth_ - 1, top_frame.next_subfolder++);
        }
        read_ahead.stop();
        while (depth_ > 0) pop();
    }

  private:
    ReadAhead<AheadListing>::Reading reading() {
        return {
            .read_subfolder =
                [this](const AheadListing& parent, std::size_t index, ReadAllowance& allowance) {
                    return read_subfolder(parent, index, allowance);
                },
            .subfolder_count =
                [](const AheadListing& listing) {
                    return listing.folder->is_open() ? listing.listing.subfolders.size() : 0;
                },
            // What lies below a link may be skipped as a web of links; read it
            // once the walk has entered the link.
            .read_below_before_entry =
                [](const AheadListing& listing) { return !listing.entered_through_link; },
            .finished_below = [](const AheadListing& listing) { listing.folder->close(); },
        };
    }

    // A folder the walk on one thread read, with its open handle if it has one.
    AheadListing adopted_listing(DescentFrame& taken) const {
        AheadListing adopted;
        if (taken.slashed_length <= kLongestPathKept)
            adopted.slashed_path = path_.substr(0, taken.slashed_length);
        adopted.slashed_units = taken.slashed_units;
        adopted.entered_through_link = taken.route.entered_through_link;
        adopted.opened = true;
        adopted.listing = std::move(taken.listing);
        if (taken.folder.is_open())
            adopted.folder->set(std::make_shared<const Folder>(std::move(taken.folder)));
        return adopted;
    }

    // Opens and reads subfolder `index` of `parent`. A reader gives up (nothing)
    // whenever anything fails, so that the walk meets the failure itself and
    // reports it in its place; the walk's own reads report it in the listing.
    std::optional<AheadListing> read_subfolder(const AheadListing& parent, std::size_t index,
                                               ReadAllowance& allowance) {
        const bool by_reader = !allowance.unbounded();
        const ListedName& entry = parent.listing.subfolders[index];
        const std::string_view name = parent.listing.name_of(entry);
        AheadListing child;
        if (!parent.slashed_path.empty() &&
            parent.slashed_path.size() + name.size() + 1 <= kLongestPathKept) {
            child.slashed_path.reserve(parent.slashed_path.size() + name.size() + 1);
            child.slashed_path.append(parent.slashed_path).append(name);
        }
        const std::size_t directory_units = parent.slashed_units + utf16_length(name);
        child.slashed_units = directory_units + 1;
        child.entered_through_link = entry.kind == EntryKind::link_to_folder;

        std::shared_ptr<const Folder> parent_folder = parent.folder->get();
        if (by_reader && (parent_folder == nullptr || !reader_handles_.take())) return std::nullopt;
        if (parent_folder == nullptr) {
            // The walk reads on the spot, so the parent is the deepest folder
            // of its descent; its handle was closed to keep the budget.
            if (!open_folder_at(entering_from_)) {
                child.parent_lost = true;
                return child;
            }
            parent_folder = parent.folder->get();
        }
        std::error_code error;
        // The directory string while opening; the slashed path afterwards.
        Folder folder = Folder::open_child(*parent_folder, name, child.slashed_path,
                                           child.entered_through_link, error);
        if (!child.slashed_path.empty()) child.slashed_path.push_back(platform::kPathSeparator);
        parent_folder.reset();
        if (!folder.is_open()) {
            if (by_reader) {
                reader_handles_.give_back();
                return std::nullopt;
            }
            child.open_error = error;
            return child;
        }
        child.opened = true;
        const ListingRequest request{parent.listing.identity.volume,
                                     lists_files_of(options_, directory_units)};
        const bool whole = read_folder_listing(folder, request, child.listing, allowance) &&
                           allowance.allow(held_bytes(child.listing) + child.slashed_path.size());
        if (by_reader && (!whole || child.listing.read_error)) {
            folder.close();
            reader_handles_.give_back();
            return std::nullopt;
        }
        const bool has_subfolders = !child.listing.subfolders.empty();
        if (by_reader && has_subfolders && !reader_handles_.may_keep()) {
            // Without its handle the walk would have to open it again from
            // above, long after it was read; the walk reads it itself instead,
            // as the walk on one thread does.
            folder.close();
            reader_handles_.give_back();
            return std::nullopt;
        }
        if (!by_reader) {
            if (has_subfolders)
                child.folder->set(std::make_shared<const Folder>(std::move(folder)));
        } else if (has_subfolders) {
            child.folder->set(std::shared_ptr<const Folder>(new Folder(std::move(folder)),
                                                            [this](const Folder* kept) {
                                                                delete kept;
                                                                reader_handles_.give_back();
                                                            }));
        } else {
            folder.close();
            reader_handles_.give_back();
        }
        return child;
    }

    Frame& frame_at(std::size_t depth) {
        while (frames_.size() <= depth) frames_.emplace_back();
        return frames_[depth];
    }

    const AheadListing& listing_at(std::size_t depth) const {
        return read_ahead_->listing(frames_[depth].node);
    }

    // Applies the walk's rules to the folder at `depth` and lists its files.
    // False when the folder is not to be walked further.
    bool take_folder(std::size_t depth) {
        const Frame& frame = frames_[depth];
        const FolderListing& listing = listing_at(depth).listing;
        if (!rules_.admit(listing, frame.route, directory_of(depth))) return false;
        rules_.hand_on_files(listing, path_, frame.slashed_length);
        rules_.folder_read(listing, directory_of(depth));
        return true;
    }

    void descend_into(std::size_t parent_depth, std::size_t index) {
        const FolderListing& parent_listing = listing_at(parent_depth).listing;
        const ListedName& subfolder = parent_listing.subfolders[index];
        path_.resize(frames_[parent_depth].slashed_length);
        path_.append(parent_listing.name_of(subfolder));
        const bool through_link = subfolder.kind == EntryKind::link_to_folder;
        entering_from_ = parent_depth;
        const auto node = read_ahead_->enter(frames_[parent_depth].node, index);
        const AheadListing& child_listing = read_ahead_->listing(node);
        if (child_listing.parent_lost) {
            read_ahead_->leave(node);
            return;
        }
        if (!child_listing.opened) {
            sink_.folder_unreadable(path_, child_listing.open_error.value());
            read_ahead_->leave(node);
            return;
        }
        Frame& child = frame_at(parent_depth + 1);
        const Frame& parent = frames_[parent_depth];  // frames_ is a deque: references stay
        path_.push_back(platform::kPathSeparator);
        child.node = node;
        child.slashed_length = path_.size();
        child.route = {through_link, parent.route.below_link || through_link};
        child.next_subfolder = 0;
        child.identity = child_listing.listing.identity;
        if (!take_folder(parent_depth + 1) || child_listing.listing.subfolders.empty()) {
            child_listing.folder->close();
            read_ahead_->leave(node);
            return;
        }
        push(parent_depth + 1);
    }

    // The open folder at `depth` of the descent, reopened from its nearest
    // open ancestor when it is closed. Reopened folders must be the ones the
    // walk read: when one is not, the tree changed under the walk and the
    // remaining subfolders of the folder at `depth` are left out.
    bool open_folder_at(std::size_t depth) {
        Frame& target = frames_[depth];
        if (listing_at(depth).folder->is_open()) return true;
        std::size_t level = budget_.nearest_open(depth).value_or(0);
        std::error_code error;
        while (level < depth) {
            const Frame& above = frames_[level];
            const Frame& below = frames_[level + 1];
            const std::string_view name(path_.data() + above.slashed_length,
                                        below.slashed_length - 1 - above.slashed_length);
            const std::string_view full_path(path_.data(), below.slashed_length - 1);
            const std::shared_ptr<const Folder> above_folder = listing_at(level).folder->get();
            Folder reopened;
            if (above_folder != nullptr)
                reopened = Folder::open_child(*above_folder, name, full_path,
                                              below.route.entered_through_link, error);
            else
                error = std::make_error_code(std::errc::bad_file_descriptor);
            if (reopened.is_open() &&
                !rules_.reopened_is_read(reopened, listing_at(level + 1).listing,
                                         frames_[level + 1].identity)) {
                // Another folder now stands where the walk read this one.
                error = std::make_error_code(std::errc::no_such_file_or_directory);
                reopened.close();
            }
            if (!reopened.is_open()) {
                sink_.folder_unreadable(directory_of(depth), error.value());
                target.next_subfolder = listing_at(depth).listing.subfolders.size();
                return false;
            }
            listing_at(level + 1).folder->set(std::make_shared<const Folder>(std::move(reopened)));
            keep_budget(level + 1);
            ++level;
        }
        read_ahead_->read_below(target.node);
        return true;
    }

    void push(std::size_t depth) {
        depth_ = depth + 1;
        rules_.descend(frames_[depth].identity);
        if (listing_at(depth).folder->is_open()) keep_budget(depth);
    }

    void pop() {
        --depth_;
        const AheadListing& listing = listing_at(depth_);
        rules_.ascend(frames_[depth_].identity);
        if (listing.folder->is_open()) {
            listing.folder->close();
            budget_.closed(depth_);
        }
        read_ahead_->leave(frames_[depth_].node);
    }

    void keep_budget(std::size_t depth) {
        if (const auto closing = budget_.opened(depth)) listing_at(*closing).folder->close();
    }

    std::string_view directory_of(std::size_t depth) const {
        if (depth == 0) return root_;
        return std::string_view(path_).substr(0, frames_[depth].slashed_length - 1);
    }

    bool stopped() {
        if (!stop_) stop_ = sink_.should_stop();
        return stop_;
    }

    SearchSink& sink_;
    const SearchOptions& options_;
    const std::size_t readers_;
    DescriptorBudget budget_;
    ReaderHandles reader_handles_;  // outlives the read-ahead, whose listings give handles back
    const std::size_t folders_ahead_;
    ReadAhead<AheadListing>* read_ahead_ = nullptr;
    std::string path_;
    std::string_view root_;
    std::deque<Frame> frames_;  // frames_[0, depth_) is the descent; deeper ones are kept for reuse
    std::size_t depth_ = 0;
    std::size_t entering_from_ = 0;  // the depth whose subfolder the walk is entering
    WalkRules rules_;
    bool stop_ = false;
};

}  // namespace

ReaderPlan plan_readers(const SearchOptions& options) {
    if (options.threads <= 1) return {};
    const std::size_t limit = platform::open_handle_limit();
    const std::size_t walk_needs = options.open_folders + kHandlesForTheProgram;
    const std::size_t handles =
        limit > walk_needs ? std::min(limit - walk_needs, kReaderHandlesWanted) : 0;
    // Each reader needs a handle to open a folder, and the rest are kept.
    const std::size_t readers = std::min(options.threads - 1, handles / 2);
    if (readers == 0) return {};
    return {readers, handles};
}

void walk_on_with_read_ahead(Descent& descent, SearchSink& sink, const SearchOptions& options,
                             const ReaderPlan& readers) {
    ThreadedWalker walker(descent, sink, options, readers);
    walker.walk(descent);
}

}  // namespace kestrafin::search
