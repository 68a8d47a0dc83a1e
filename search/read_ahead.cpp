#include "search/read_ahead.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/path_rules.h"
#include "search/path_text.h"
#include "search/read_waits.h"

namespace kestrafin::search {

namespace {

// Bytes are granted in steps of this size, so that readers seldom touch the
// shared counter.
constexpr std::size_t kGrantStep = std::size_t{64} << 10;

// Readers that waited for room wake once this share of it is free again.
constexpr std::size_t kRoomToWakeShare = 4;

// The nodes read below a folder, in rising order, taken from the front. It
// holds no memory until the first node comes, as most folders never have one.
template <typename Item>
class FrontQueue {
  public:
    bool empty() const { return front_ == items_.size(); }
    std::size_t size() const { return items_.size() - front_; }
    Item operator[](std::size_t at) const { return items_[front_ + at]; }
    Item front() const { return items_[front_]; }
    auto begin() const { return items_.begin() + static_cast<std::ptrdiff_t>(front_); }
    auto end() const { return items_.end(); }
    void push_back(Item item) { items_.push_back(item); }
    void clear() {
        items_.clear();
        front_ = 0;
    }
    std::size_t capacity() const { return items_.capacity(); }
    void pop_front() {
        ++front_;
        if (front_ == items_.size()) {
            items_.clear();
            front_ = 0;
        } else if (front_ >= 64 && front_ * 2 >= items_.size()) {
            items_.erase(items_.begin(), begin());
            front_ = 0;
        }
    }

  private:
    std::vector<Item> items_;
    std::size_t front_ = 0;
};

// Nodes taken by the walk are kept for the next reads, with the memory of
// the listing the walk gave back unless that is large. The walk takes them as
// fast as readers read, but not evenly: a thousand are kept, with at most
// 8 KiB of listing memory each.
constexpr std::size_t kNodesKept = 1024;
constexpr std::size_t kListingBytesKept = std::size_t{4} << 10;
constexpr std::size_t kListingNamesKept = kListingBytesKept / sizeof(ListedName);
// Branches the walk has left are kept for the next reads in the same way,
// with their paths' memory, unless they held many nodes.
constexpr std::size_t kBranchesKept = 256;
constexpr std::size_t kBranchNodesKept = 256;

constexpr int kTriesBeforeSleeping = 100;

// Where many readers read, each times one read in this many.
constexpr std::size_t kTimedReadOneIn = 4;

// How long the walk waits for a cached folder's reader before it sleeps.
constexpr std::chrono::microseconds kBriefWait{50};

// How often a walk waiting for a reader looks whether it is asked to stop.
constexpr std::chrono::milliseconds kStopLookedAt{20};

}  // namespace

bool ReadAllowance::grow(std::size_t bytes) {
    if (held_ == nullptr) return true;
    if (stopped()) return false;
    const std::size_t wanted = (bytes + kGrantStep - 1) / kGrantStep * kGrantStep;
    const std::size_t more = wanted - granted_;
    std::size_t held = held_->load(std::memory_order_relaxed);
    do {
        if (held + more > max_bytes_) return false;
    } while (!held_->compare_exchange_weak(held, held + more, std::memory_order_relaxed));
    granted_ = wanted;
    return true;
}

// A folder whose subfolders readers may read. While it is held (in the
// descent or below a node), its fields are guarded by the read-ahead's mutex,
// and readers read `listing` only under it; the walk reads the listings it
// lent without it, since it changes none while it is lent.
struct ReadAhead::Branch {
    const FolderListing* listing = nullptr;
    std::shared_ptr<SharedFolder> folder;
    std::string slashed_path;  // empty when not kept
    std::size_t slashed_units = 0;
    std::size_t count = 0;    // subfolders readers may read
    std::size_t next = 0;     // the next one a reader takes
    FrontQueue<Node*> below;  // being read or read, not taken; rising indices
    // The branch whose `below` holds this one's node; none once the walk has
    // entered it.
    Branch* parent = nullptr;
    // Subfolders not yet taken by a reader and reads under way, here and in
    // the branches read below it: the search goes down only where there is
    // something to read.
    std::size_t unread_below = 0;
    std::size_t reading_below = 0;
    // The nodes of `below` before this one are spent: nothing is left to
    // read below them, now or later.
    std::size_t first_live = 0;
    // Its handle counts in handles_kept_: it was read ahead, and readers
    // have subfolders of it left to open.
    bool keeps_handle = false;

    std::size_t unread() const { return count > next ? count - next : 0; }

    // Made new for the next read, with the memory it holds kept.
    void reset() {
        listing = nullptr;
        folder.reset();
        slashed_path.clear();
        slashed_units = count = next = 0;
        below.clear();
        parent = nullptr;
        unread_below = reading_below = first_live = 0;
        keeps_handle = false;
    }
};

// A subfolder being read or read ahead, not yet taken by the walk.
struct ReadAhead::Node {
    enum class State : unsigned char { reading, read, given_up };
    std::size_t index = 0;
    State state = State::reading;
    std::atomic<bool> finished{false};  // set with `state` leaving reading, for a walk not asleep
    bool dropped = false;               // passed over or left: its reader frees it
    bool through_link = false;
    std::size_t bytes = 0;  // its listing's, counted in bytes_ahead_
    // The nodes after this one in its holder's `below` whose indices are
    // lower than this are spent: the search passes over them at once.
    std::size_t spent_until = 0;
    Branch* holder = nullptr;  // the branch whose `below` holds it
    FolderRead read;
    std::unique_ptr<Branch> branch;  // once read

    bool spent() const {
        return state != State::reading &&
               (!branch || (branch->unread_below == 0 && branch->reading_below == 0));
    }
};

namespace {

// Adds to the counts of `branch` and of every branch above it.
void count_below(ReadAhead::Branch* branch, std::ptrdiff_t unread, std::ptrdiff_t reading) {
    for (; branch != nullptr; branch = branch->parent) {
        branch->unread_below += static_cast<std::size_t>(unread);
        branch->reading_below += static_cast<std::size_t>(reading);
    }
}

// Takes a branch read ahead out of the counts above it: the walk has entered
// it, or it is dropped.
void detach(ReadAhead::Branch& branch) {
    count_below(branch.parent, -static_cast<std::ptrdiff_t>(branch.unread_below),
                -static_cast<std::ptrdiff_t>(branch.reading_below));
    branch.parent = nullptr;
}

}  // namespace

ReadAhead::ReadAhead(Reader& reader, const ReadAheadLimits& limits)
    : reader_(reader),
      limits_(limits),
      reader_count_(ReaderCount::Clock::now, limits.first_readers, limits.readers_where_reads_wait,
                    limits.readers, limits.reads_cached) {
    walk_reads_ = std::make_unique<ReaderState>();
    walk_freeing_ = std::make_unique<Freeing>();
    std::lock_guard lock(mutex_);
    start_readers();
}

ReadAhead::~ReadAhead() {
    stop();
    // No reader starts another once stopping.
    std::vector<std::thread> readers;
    {
        std::lock_guard lock(mutex_);
        readers.swap(readers_);
    }
    for (std::thread& thread : readers) thread.join();
    while (!descent_.empty()) leave(descent_.back().get());
    for (Node* node : to_free_) delete node;
    for (Node* node : kept_nodes_) delete node;
}

// The lock is held only briefly: while every thread has a processor, trying
// it a while costs less than a sleep and a wake-up. Where more readers work
// than there are processors, its holder may be waiting for one, and trying
// only keeps it waiting.
void ReadAhead::lock_soon(std::unique_lock<std::mutex>& lock) {
    if (trying_lock_pays_.load(std::memory_order_relaxed))
        for (int tries = 0; tries < kTriesBeforeSleeping; ++tries)
            if (lock.try_lock()) return;
    lock.lock();
}

std::unique_lock<std::mutex> ReadAhead::locked_soon() {
    std::unique_lock lock(mutex_, std::defer_lock);
    lock_soon(lock);
    return lock;
}

// Called with the lock held, once the count of readers at work changed.
// Starts those that are not yet running.
void ReadAhead::start_readers() {
    trying_lock_pays_.store(reader_count_.active() < kProcessors, std::memory_order_relaxed);
    while (readers_.size() < reader_count_.active() && !stopping_) {
        try {
            readers_.emplace_back([this] { run_reader(); });
            ++running_readers_;
        } catch (const std::system_error&) {
            // Fewer readers only make the walk slower.
            reader_count_.refused_after(readers_.size());
            break;
        }
    }
    if (reader_wanted()) work_ready_.notify_one();
}

void ReadAhead::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
}

void ReadAhead::abandon(std::shared_ptr<ReadAhead> read_ahead, std::shared_ptr<Reader> reader) {
    ReadAhead& self = *read_ahead;
    std::vector<std::thread> readers;
    {
        std::lock_guard lock(self.mutex_);
        self.stopping_ = true;
        readers.swap(self.readers_);
        self.was_abandoned_ = true;
        abandoned_readers_ += self.running_readers_;
        if (self.running_readers_ > 0)
            self.abandoned_ =
                std::make_shared<std::pair<std::shared_ptr<ReadAhead>, std::shared_ptr<Reader>>>(
                    std::move(read_ahead), std::move(reader));
    }
    self.work_ready_.notify_all();
    for (std::thread& thread : readers) thread.detach();
}

bool ReadAhead::has_room() const {
    return folders_ahead_ < limits_.max_folders &&
           bytes_ahead_.load(std::memory_order_relaxed) + kGrantStep <= limits_.max_bytes;
}

ReadAhead::Branch* ReadAhead::lend(const FolderListing& listing,
                                   std::shared_ptr<SharedFolder> folder,
                                   std::string_view slashed_path, std::size_t slashed_units,
                                   std::size_t first) {
    auto branch = std::make_unique<Branch>();
    branch->listing = &listing;
    branch->folder = std::move(folder);
    if (slashed_path.size() <= limits_.longest_path_kept) branch->slashed_path = slashed_path;
    branch->slashed_units = slashed_units;
    branch->count = listing.subfolders.size();
    branch->next = first;
    branch->unread_below = branch->unread();
    Branch* lent = branch.get();
    bool wake = false;
    {
        std::unique_lock lock = locked_soon();
        unread_ += lent->unread();
        descent_.push_back(std::move(branch));
        wake = reader_wanted();
    }
    if (wake) work_ready_.notify_one();
    return lent;
}

// The folder whose next subfolder comes first in the walk's order among those
// not yet read: below the folder the walk is in, then below each folder above
// it. Null when there is none.
ReadAhead::Branch* ReadAhead::next_to_read() {
    if (unread_ == 0) return nullptr;
    for (auto lent = descent_.rbegin(); lent != descent_.rend(); ++lent)
        if (Branch* found = first_unread_in(lent->get())) return found;
    return nullptr;
}

// Depth first through what has been read below `top`: a folder's subfolders
// read ahead come before its next subfolder, as they do in the walk. The
// counts below each branch lead the search straight down to the first one;
// on the way it passes only the nodes still being read, or read above reads
// under way, and marks what it finds spent, so that it never looks at them
// again.
ReadAhead::Branch* ReadAhead::first_unread_in(Branch* top) {
    if (top->unread_below == 0) return nullptr;
    Branch* branch = top;
    for (;;) {
        const FrontQueue<Node*>& below = branch->below;
        while (branch->first_live < below.size() && below[branch->first_live]->spent())
            ++branch->first_live;
        Node* found = nullptr;
        Node* last_live = nullptr;
        std::size_t at = branch->first_live;
        while (at < below.size()) {
            Node* node = below[at];
            if (node->branch && node->branch->unread_below > 0) {
                found = node;
                break;
            }
            if (node->spent()) {
                if (last_live) last_live->spent_until = node->index + 1;
                ++at;
                continue;
            }
            last_live = node;
            at = past_spent_after(*branch, at);
        }
        // Nothing below the nodes: what is left to read is the branch's own.
        if (found == nullptr) return branch;
        branch = found->branch.get();
    }
}

// The place after the node at `at` in the branch's `below`, past the spent
// nodes known to follow it.
std::size_t ReadAhead::past_spent_after(const Branch& branch, std::size_t at) {
    const FrontQueue<Node*>& below = branch.below;
    const Node* node = below[at];
    if (node->spent_until <= node->index + 1) return at + 1;
    const auto next = std::lower_bound(
        below.begin() + static_cast<std::ptrdiff_t>(at + 1), below.end(), node->spent_until,
        [](const Node* passed, std::size_t index) { return passed->index < index; });
    return static_cast<std::size_t>(next - below.begin());
}

// What a thread frees once it lets the lock go; its memory is kept.
struct ReadAhead::Freeing {
    std::vector<Node*> nodes;
    std::vector<std::shared_ptr<const platform::Folder>> handles;
};

// What one thread keeps from one read to the next, so that most reads
// allocate nothing.
struct ReadAhead::ReaderState {
    ReadWaits waits{1};  // every read is timed while few readers read, so as to judge soon
    std::unique_ptr<Node> spare_node = std::make_unique<Node>();
    std::unique_ptr<Branch> spare_branch;
    FolderToRead folder;
    Freeing freeing;
};

// One reader thread: it reads while the count lets it and there is something
// to read, and sleeps otherwise, until the read-ahead stops.
void ReadAhead::run_reader() {
    // Gone last, maybe with this read-ahead: nothing of it is touched after.
    std::shared_ptr<void> last;
    // Readers work for the walk: where it keeps them waiting for room it
    // is the one to hurry, and where they keep it waiting it sleeps.
    platform::give_way_to_other_threads();
    ReaderState state;
    std::unique_lock lock = locked_soon();
    while (!stopping_) {
        if (busy_readers_ < reader_count_.active()) {
            ++busy_readers_;
            const bool read = read_next(lock, state);
            --busy_readers_;
            if (read) continue;
        }
        // A reader that sleeps holds no handle it let go of.
        if (!handles_to_close_.empty()) {
            free_let_go(lock, state.freeing);
            lock_soon(lock);
            continue;
        }
        ++idle_readers_;
        work_ready_.wait(lock);
        --idle_readers_;
    }
    if (--running_readers_ == 0) last = std::move(abandoned_);
    const bool abandoned = was_abandoned_;
    lock.unlock();
    last.reset();
    if (abandoned) --abandoned_readers_;
}

// Called with the lock held, which it lets go while reading. Reads the next
// folder in the walk's order that no reader has taken, when there is one and
// room for it. The lock is held only to choose a read and to hand its result
// over: what can be made without it (the node, the branch below, the path)
// is made before, notifications and frees come after.
bool ReadAhead::read_next(std::unique_lock<std::mutex>& lock, ReaderState& state) {
    // Once stopped, the walk's listings may be gone.
    if (stopping_) return false;
    out_of_room_ = !has_room();
    Branch* parent = out_of_room_ ? nullptr : next_to_read();
    if (parent == nullptr) return false;
    if (!state.spare_branch && !kept_branches_.empty()) {
        state.spare_branch = std::move(kept_branches_.back());
        kept_branches_.pop_back();
    }
    Node* node = nullptr;
    if (!kept_nodes_.empty()) {
        node = kept_nodes_.back();
        kept_nodes_.pop_back();
    } else {
        node = state.spare_node.release();
    }
    node->index = parent->next++;
    node->holder = parent;
    --unread_;
    count_below(parent, -1, +1);
    parent->below.push_back(node);
    ++folders_ahead_;
    const std::size_t busy_at_start = busy_readers_;

    FolderToRead& folder = state.folder;
    const ListedName& entry = parent->listing->subfolders[node->index];
    folder.name = parent->listing->name_of(entry);
    folder.path.clear();
    if (!parent->slashed_path.empty() &&
        parent->slashed_path.size() + folder.name.size() <= limits_.longest_path_kept)
        folder.path.append(parent->slashed_path).append(folder.name);
    folder.parent = parent->folder ? parent->folder->get() : nullptr;
    // Once readers have all the subfolders, the parent's handle goes with the
    // last of their opens.
    if (parent->keeps_handle && parent->next >= parent->count) let_go_handle(*parent);
    folder.parent_identity = parent->listing->identity;
    folder.parent_slashed_units = parent->slashed_units;
    folder.parent_on_kernel_file_system = parent->listing->on_kernel_file_system;
    folder.through_link = entry.kind == platform::EntryKind::link_to_folder;
    node->through_link = folder.through_link;
    // One wake-up may have made room for many reads: pass it on, so that
    // every idle reader looks for one.
    const bool wake = reader_wanted();

    ReadAllowance allowance;
    allowance.held_ = &bytes_ahead_;
    allowance.stopping_ = &stopping_;
    allowance.stop_request_ = limits_.stop;
    allowance.max_bytes_ = limits_.max_bytes;
    allowance.granted_ = 0;
    free_let_go(lock, state.freeing);
    if (wake) work_ready_.notify_one();
    bool whole = false;
    const ReadWaits::Read timing = state.waits.start();
    try {
        // A node being read is its reader's alone.
        whole = reader_.read(folder, node->read, allowance);
    } catch (...) {
        whole = false;  // the walk reads it again and meets the fault itself
    }
    const std::optional<ReadWaits::Waited> waited =
        whole ? state.waits.finish(timing) : std::nullopt;
    folder.parent.reset();
    std::shared_ptr<const platform::Folder> reopened_parent =
        std::move(node->read.reopened_parent);
    if (!whole) node->read = FolderRead();  // the walk reads it again
    if (!state.spare_node) state.spare_node = std::make_unique<Node>();
    if (!state.spare_branch) state.spare_branch = std::make_unique<Branch>();
    Branch& below = *state.spare_branch;
    below.slashed_path.clear();
    if (whole && !folder.path.empty())
        below.slashed_path.append(folder.path).push_back(platform::kPathSeparator);
    below.slashed_units = folder.parent_slashed_units + utf16_length(folder.name) + 1;
    // Keep only what the listing holds; the rest of the last step goes back.
    bytes_ahead_ -= allowance.granted() - allowance.used();
    if (!whole) bytes_ahead_ -= allowance.used();
    lock_soon(lock);
    const std::size_t active = reader_count_.active();
    // A read waits behind the reads under way as it started, however few are
    // left as it ends.
    reader_count_.count_read(waited, std::max(busy_at_start, busy_readers_));
    if (reader_count_.active() != active) start_readers();
    // Asking the host whether a read waited costs two calls per read; where
    // many readers read, a quarter of their reads tell as soon as one
    // reader's every read would.
    state.waits.time_one_in(
        reader_count_.active() >= limits_.readers_where_reads_wait ? kTimedReadOneIn : 1);

    if (node->dropped) {
        if (whole) bytes_ahead_ -= allowance.used();
        --folders_ahead_;
        to_free_.push_back(node);  // its listing and handle go with it
        if (reopened_parent) handles_to_close_.push_back(std::move(reopened_parent));
        return true;
    }
    // Only a parent read ahead keeps a handle so: the descent's are the walk's,
    // and the parent of a node the walk has taken is in the descent.
    Branch* const read_in = node->holder;
    if (reopened_parent &&
        (read_in == nullptr || read_in->parent == nullptr || !read_in->folder ||
         read_in->next >= read_in->count || read_in->folder->is_open() ||
         !keep_handle(*read_in, reopened_parent)))
        handles_to_close_.push_back(std::move(reopened_parent));
    if (!whole) {
        count_below(node->holder, 0, -1);
        node->state = Node::State::given_up;
    } else {
        node->state = Node::State::read;
        node->bytes = allowance.used();
        below.listing = &node->read.listing;
        below.folder = node->read.folder;
        if (below.folder && below.folder->is_open()) {
            std::shared_ptr<const platform::Folder> handle = below.folder->take();
            if (!keep_handle(below, handle)) handles_to_close_.push_back(std::move(handle));
        }
        // What lies below a link may be skipped as a web of links; it is
        // read once the walk has entered the link.
        below.count = below.folder && !node->through_link &&
                              (below.keeps_handle || node->read.reopenable)
                          ? node->read.listing.subfolders.size()
                          : 0;
        unread_ += below.count;
        below.parent = node->holder;
        below.unread_below = below.count;
        below.reading_below = 0;
        // One pass up the branches above: this read ends, its subfolders wait.
        count_below(node->holder, static_cast<std::ptrdiff_t>(below.count), -1);
        node->branch = std::move(state.spare_branch);
    }
    // No reader is woken here: this one looks for the next read itself,
    // and wakes another once it has taken one and more are waiting.
    node->finished.store(true, std::memory_order_release);
    if (awaited_ == node) listing_ready_.notify_one();
    return true;
}

// Called with the lock held: `branch`, read ahead, keeps `handle` in its
// slot when the limit leaves room for it.
bool ReadAhead::keep_handle(Branch& branch, std::shared_ptr<const platform::Folder> handle) {
    if (handles_kept_ >= limits_.handles_kept) return false;
    branch.folder->set(std::move(handle));
    branch.keeps_handle = true;
    ++handles_kept_;
    return true;
}

// Called with the lock held: the branch's kept handle closes once the lock is
// let go and no reader's open needs it any more.
void ReadAhead::let_go_handle(Branch& branch) {
    handles_to_close_.push_back(branch.folder->take());
    branch.keeps_handle = false;
    --handles_kept_;
}

// Called with the lock held, for a node the walk has taken: it now holds the
// listing the walk gave back, emptied, and no handle.
void ReadAhead::keep_or_free(Node* node) {
    const FolderListing& listing = node->read.listing;
    const bool small = listing.names.capacity() <= kListingBytesKept &&
                       listing.files.capacity() + listing.subfolders.capacity() +
                               listing.excluded.capacity() + listing.unknown.capacity() <=
                           kListingNamesKept;
    if (!small || kept_nodes_.size() >= kNodesKept) {
        to_free_.push_back(node);
        return;
    }
    node->read.listing.clear();
    node->read.folder.reset();
    node->branch.reset();
    node->state = Node::State::reading;
    node->finished.store(false, std::memory_order_relaxed);
    node->dropped = false;
    node->bytes = 0;
    node->spent_until = 0;
    kept_nodes_.push_back(node);
}

// Lets the lock go, then frees what was let go of while it was held.
// `freeing` is the caller's own, so that neither vector's memory is given up.
void ReadAhead::free_let_go(std::unique_lock<std::mutex>& lock, Freeing& freeing) {
    freeing.nodes.swap(to_free_);
    freeing.handles.swap(handles_to_close_);
    lock.unlock();
    for (Node* node : freeing.nodes) delete node;
    freeing.nodes.clear();
    freeing.handles.clear();
}

ReadAhead::Taken ReadAhead::take(Branch* parent, std::size_t index, FolderListing& listing) {
    std::unique_lock lock = locked_soon();
    while (!walk_kept_.empty() && kept_branches_.size() < kBranchesKept) {
        kept_branches_.push_back(std::move(walk_kept_.back()));
        walk_kept_.pop_back();
    }
    auto pop_front = [parent] {
        Node* front = parent->below.front();
        parent->below.pop_front();
        if (parent->first_live > 0) --parent->first_live;
        return front;
    };
    while (!parent->below.empty() && parent->below.front()->index < index) drop(pop_front());
    if (parent->next < index + 1) {
        const std::size_t passed =
            std::min(index + 1, parent->count) - std::min(parent->next, parent->count);
        unread_ -= passed;
        count_below(parent, -static_cast<std::ptrdiff_t>(passed), 0);
        parent->next = index + 1;
    }
    if (parent->below.empty() || parent->below.front()->index != index) {
        reader_count_.walk_waited();
        free_let_go(lock, *walk_freeing_);
        return {};
    }
    Node* node = pop_front();
    // The node leaves the counts of the branch it was read below at once, so
    // that they count only what the search can find there.
    if (node->state == Node::State::reading) {
        reader_count_.walk_waited();
        count_below(parent, 0, -1);
    } else if (node->branch) {
        detach(*node->branch);
    }
    node->holder = nullptr;
    if (!await(node, lock)) {
        // Its reader frees it once the host answers.
        node->dropped = true;
        free_let_go(lock, *walk_freeing_);
        Taken stopped;
        stopped.stopped = true;
        return stopped;
    }
    --folders_ahead_;
    bytes_ahead_ -= node->bytes;
    Taken taken;
    std::unique_ptr<Branch> unlent;
    if (node->state == Node::State::read) {
        taken.read = true;
        listing.clear();
        std::swap(listing, node->read.listing);
        std::unique_ptr<Branch> branch = std::move(node->branch);
        // The descent holds its handle from here on, within its own budget.
        if (branch->keeps_handle) {
            branch->keeps_handle = false;
            --handles_kept_;
        }
        if (listing.subfolders.empty()) {
            unlent = std::move(branch);
        } else {
            branch->listing = &listing;
            // Below a link, readers start once the walk has entered it.
            const std::size_t unread_before = branch->unread();
            branch->count = listing.subfolders.size();
            const std::size_t added = branch->unread() - unread_before;
            unread_ += added;
            branch->unread_below += added;
            taken.branch = branch.get();
            taken.folder = std::move(node->read.folder);
            descent_.push_back(std::move(branch));
        }
    }
    keep_or_free(node);
    const bool wake = reader_wanted();
    free_let_go(lock, *walk_freeing_);
    // A folder without subfolders is never lent: its branch serves the next
    // reads, and the walk need not leave it.
    if (unlent) keep_for_next_reads(std::move(unlent));
    if (wake) work_ready_.notify_one();
    return taken;
}

// Called with the lock held, for the node the walk enters next, until its
// reader is done with it. Where folders are found cached, a reader is done
// sooner than a sleep and a wake-up would be: the walk reads the next
// folders meanwhile, then waits a little without sleeping.
bool ReadAhead::await(Node* node, std::unique_lock<std::mutex>& lock) {
    if (reader_count_.reads_cached()) {
        while (node->state == Node::State::reading && !stopping_ && read_next(lock, *walk_reads_)) {
        }
        if (node->state == Node::State::reading) {
            lock.unlock();
            const auto until = std::chrono::steady_clock::now() + kBriefWait;
            // Yielding lets the reader on, where it shares the processor.
            while (!node->finished.load(std::memory_order_acquire) &&
                   std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
            lock_soon(lock);
        }
    }
    awaited_ = node;
    const auto read = [node] { return node->state != Node::State::reading; };
    if (limits_.stop == nullptr) {
        listing_ready_.wait(lock, read);
    } else {
        // The request is a flag: it is looked at as often as a person would notice.
        while (!stop_requested() && !listing_ready_.wait_for(lock, kStopLookedAt, read)) {
        }
    }
    awaited_ = nullptr;
    return read();
}

void ReadAhead::leave(Branch* branch) {
    std::unique_lock lock = locked_soon();
    while (!descent_.empty()) {
        walk_left_.push_back(std::move(descent_.back()));
        descent_.pop_back();
        forget(*walk_left_.back());
        if (walk_left_.back().get() == branch) break;
    }
    const bool wake = reader_wanted();
    free_let_go(lock, *walk_freeing_);
    for (std::unique_ptr<Branch>& left : walk_left_) keep_for_next_reads(std::move(left));
    walk_left_.clear();
    if (wake) work_ready_.notify_one();
}

// Called by the walk without the lock: a branch it is done with serves the
// next reads, with its memory, unless enough are kept or it held many nodes.
void ReadAhead::keep_for_next_reads(std::unique_ptr<Branch> branch) {
    if (walk_kept_.size() >= kBranchesKept || branch->below.capacity() > kBranchNodesKept) return;
    branch->reset();  // its handle closes here, outside the lock
    walk_kept_.push_back(std::move(branch));
}

// Called with the lock held: whether an idle reader should be woken, which
// is done once the lock is let go. Readers wake one another in turn, so that
// a walk that frees room for one read does not wake every reader.
bool ReadAhead::reader_wanted() const {
    if (idle_readers_ == 0 || unread_ == 0 || stopping_ || busy_readers_ >= reader_count_.active())
        return false;
    if (!out_of_room_) return has_room();
    // Readers that ran out of room wake once a quarter of it is free, not
    // for each folder the walk takes: a reader woken for one read sleeps
    // again at once, and each wake-up may cost the walk its processor while
    // it is the one that keeps everyone waiting.
    const std::size_t bytes_to_wake = std::max(kGrantStep, limits_.max_bytes / kRoomToWakeShare);
    return folders_ahead_ + limits_.max_folders / kRoomToWakeShare < limits_.max_folders &&
           bytes_ahead_.load(std::memory_order_relaxed) + bytes_to_wake <= limits_.max_bytes;
}

// The branch goes: its unread subfolders no longer count, nor does anything
// read below it.
void ReadAhead::forget(const Branch& branch) {
    unread_ -= branch.unread();
    for (Node* node : branch.below) drop(node);
}

// Lets the node go with everything read below it, to be freed once the lock
// is let go; a node still being read is let go by its reader.
void ReadAhead::drop(Node* node) {
    if (node->state == Node::State::reading) {
        count_below(node->holder, 0, -1);
        node->dropped = true;
        return;
    }
    --folders_ahead_;
    bytes_ahead_ -= node->bytes;
    if (node->branch) {
        detach(*node->branch);
        forget(*node->branch);
        if (node->branch->keeps_handle) let_go_handle(*node->branch);
    }
    to_free_.push_back(node);
}

}  // namespace kestrafin::search
