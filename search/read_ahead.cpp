#include "search/read_ahead.h"

#include <algorithm>
#include <deque>
#include <system_error>
#include <utility>

namespace kestrafin::search {

namespace {

// Bytes are granted in steps of this size, so that readers seldom touch the
// shared counter.
constexpr std::size_t kGrantStep = std::size_t{64} << 10;

void raise_peak(std::atomic<std::size_t>& peak, std::size_t value) {
    std::size_t seen = peak.load(std::memory_order_relaxed);
    while (value > seen && !peak.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
    }
}

}  // namespace

bool ReadAllowance::grow(std::size_t bytes) {
    if (held_ == nullptr) return true;
    if (stopping_->load(std::memory_order_relaxed)) return false;
    const std::size_t wanted = (bytes + kGrantStep - 1) / kGrantStep * kGrantStep;
    const std::size_t more = wanted - granted_;
    std::size_t held = held_->load(std::memory_order_relaxed);
    do {
        if (held + more > max_bytes_) return false;
    } while (!held_->compare_exchange_weak(held, held + more, std::memory_order_relaxed));
    raise_peak(*peak_, held + more);
    granted_ = wanted;
    return true;
}

// One folder known to the read-ahead. All fields are guarded by the engine's
// mutex; `listing` is written once, before the folder counts as read, and
// is not changed while readers read below it.
struct ReadAheadEngine::Folder {
    enum class State : unsigned char { reading, read, given_up, entered };

    Folder(Folder* parent, std::size_t index) : parent(parent), index(index) {}

    Folder* parent = nullptr;
    std::size_t index = 0;  // among the parent's subfolders
    State state = State::reading;
    bool dropped = false;  // left or passed over: nothing more is read below it
    std::unique_ptr<Held> listing;
    std::size_t bytes = 0;           // granted while it was read ahead
    std::size_t subfolders = 0;      // subfolders that may be read below it
    std::size_t next_subfolder = 0;  // the next one a reader takes
    std::deque<Folder*> below;       // read or being read, not entered; rising indices
    std::size_t reads_below = 0;     // reads of its subfolders under way
    bool opened_below = false;
    Folder* previous = nullptr;
    Folder* next = nullptr;
};

ReadAheadEngine::ReadAheadEngine(std::unique_ptr<Held> root, Source& source,
                                 const ReadAheadLimits& limits)
    : source_(source), limits_(limits), reading_(limits.reading) {
    root_ = new_folder(nullptr, 0);
    root_->state = Folder::State::entered;
    root_->listing = std::move(root);
    current_ = root_;
    {
        std::lock_guard lock(mutex_);
        open_below(root_, true);
    }
    if (reading_) start_readers();
}

// Called by the consumer only, at the first time of reading.
void ReadAheadEngine::start_readers() {
    if (!readers_.empty()) return;
    readers_.reserve(limits_.readers);
    for (std::size_t count = 0; count < limits_.readers; ++count) {
        try {
            readers_.emplace_back([this] { read_ahead(); });
        } catch (const std::system_error&) {
            break;  // fewer readers only make the walk slower
        }
    }
}

ReadAheadEngine::~ReadAheadEngine() {
    stop();
    for (std::thread& reader : readers_) reader.join();
    while (all_ != nullptr) {
        Folder* next = all_->next;
        delete all_;
        all_ = next;
    }
}

ReadAheadEngine::Folder* ReadAheadEngine::new_folder(Folder* parent, std::size_t index) {
    Folder* folder = new Folder(parent, index);
    folder->next = all_;
    if (all_ != nullptr) all_->previous = folder;
    all_ = folder;
    return folder;
}

const ReadAheadEngine::Held& ReadAheadEngine::listing(const Folder* folder) const {
    return *folder->listing;
}

void ReadAheadEngine::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
}

ReadAheadFigures ReadAheadEngine::figures() const {
    std::lock_guard lock(mutex_);
    ReadAheadFigures figures = figures_;
    figures.peak_bytes = peak_bytes_.load();
    return figures;
}

bool ReadAheadEngine::has_room() const {
    return folders_ahead_ < limits_.max_folders &&
           bytes_ahead_.load(std::memory_order_relaxed) + kGrantStep <= limits_.max_bytes;
}

void ReadAheadEngine::wake_reader() {
    if (idle_readers_ > 0 && reading_ && has_room()) work_ready_.notify_one();
}

// Makes the folder's subfolders available to the readers.
void ReadAheadEngine::open_below(Folder* folder, bool entered) {
    if (!folder->opened_below && (entered || source_.read_below_before_entry(*folder->listing))) {
        folder->opened_below = true;
        folder->subfolders = source_.subfolder_count(*folder->listing);
    }
    if (folder->next_subfolder < folder->subfolders) wake_reader();
}

// The folder whose next subfolder comes first in the walk's order among
// those not yet read: below the folder the walk is in, then below each
// folder above it. Readers so read what the walk will enter soonest, and the
// folders held ahead are never ones it reaches only much later. Null when
// there is none.
ReadAheadEngine::Folder* ReadAheadEngine::next_to_read() {
    for (Folder* entered = current_; entered != nullptr; entered = entered->parent)
        if (Folder* found = first_unread_in(entered)) return found;
    return nullptr;
}

// Depth first through what has been read below `top`: a folder's subfolders
// read ahead come before its next subfolder, as they do in the walk.
ReadAheadEngine::Folder* ReadAheadEngine::first_unread_in(Folder* top) {
    search_.clear();
    search_.push_back({top, 0});
    while (!search_.empty()) {
        SearchStep& step = search_.back();
        Folder* folder = step.folder;
        if (step.next_below < folder->below.size()) {
            Folder* child = folder->below[step.next_below++];
            if (child->state == Folder::State::read && !child->dropped)
                search_.push_back({child, 0});
            continue;
        }
        if (!folder->dropped && folder->next_subfolder < folder->subfolders) return folder;
        search_.pop_back();
    }
    return nullptr;
}

void ReadAheadEngine::read_ahead() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        Folder* parent = reading_ && has_room() ? next_to_read() : nullptr;
        if (parent == nullptr) {
            ++idle_readers_;
            work_ready_.wait(lock);
            --idle_readers_;
            continue;
        }
        Folder* folder = new_folder(parent, parent->next_subfolder++);
        parent->below.push_back(folder);
        ++parent->reads_below;
        ++folders_ahead_;
        figures_.peak_folders = std::max(figures_.peak_folders, folders_ahead_);
        // One wake-up may have made room for many reads: pass it on, so that
        // every idle reader looks for one.
        wake_reader();

        ReadAllowance allowance;
        allowance.held_ = &bytes_ahead_;
        allowance.stopping_ = &stopping_;
        allowance.max_bytes_ = limits_.max_bytes;
        allowance.peak_ = &peak_bytes_;
        allowance.granted_ = 0;
        std::unique_ptr<Held> listing;
        lock.unlock();
        try {
            listing = source_.read_subfolder(*parent->listing, folder->index, allowance);
        } catch (const std::exception&) {
            listing = nullptr;  // the consumer reads it again and meets the fault itself
        }
        // Keep only what the listing holds; the rest of the last step goes back.
        bytes_ahead_ -= allowance.granted() - allowance.used();
        lock.lock();
        finish_read(folder, std::move(listing), allowance.used());
    }
}

void ReadAheadEngine::finish_read(Folder* folder, std::unique_ptr<Held> listing,
                                  std::size_t granted) {
    Folder* parent = folder->parent;
    --parent->reads_below;
    if (parent->reads_below == 0 && parent->next_subfolder >= parent->subfolders &&
        parent->state == Folder::State::read && !parent->dropped)
        source_.finished_below(*parent->listing);
    if (listing == nullptr || folder->dropped) {
        if (listing == nullptr && !folder->dropped) ++figures_.given_up;
        --folders_ahead_;
        bytes_ahead_ -= granted;
        folder->state = Folder::State::given_up;
        listing.reset();
        free_if_unused(folder);
    } else {
        folder->state = Folder::State::read;
        folder->listing = std::move(listing);
        folder->bytes = granted;
        open_below(folder, false);
    }
    free_if_unused(parent);
    if (awaited_ == folder) listing_ready_.notify_one();
    wake_reader();
}

ReadAheadEngine::Folder* ReadAheadEngine::enter(Folder* parent, std::size_t index) {
    std::unique_lock lock(mutex_);
    while (!parent->below.empty() && parent->below.front()->index < index) {
        Folder* passed = parent->below.front();
        parent->below.pop_front();
        drop(passed);
    }
    Folder* folder = nullptr;
    if (!parent->below.empty() && parent->below.front()->index == index) {
        folder = parent->below.front();
        parent->below.pop_front();
        awaited_ = folder;
        listing_ready_.wait(lock, [folder] { return folder->state != Folder::State::reading; });
        awaited_ = nullptr;
        if (folder->state == Folder::State::read) {
            --folders_ahead_;
            bytes_ahead_ -= folder->bytes;
            folder->bytes = 0;
            ++figures_.read_ahead;
        }
    } else {
        folder = new_folder(parent, index);
        parent->next_subfolder = std::max(parent->next_subfolder, index + 1);
    }
    if (folder->listing == nullptr) {
        ++figures_.read_on_entry;
        ++parent->reads_below;
        lock.unlock();
        ReadAllowance unbounded;
        std::unique_ptr<Held> listing;
        try {
            listing = source_.read_subfolder(*parent->listing, index, unbounded);
        } catch (...) {
            lock.lock();
            --parent->reads_below;
            folder->state = Folder::State::entered;
            throw;
        }
        lock.lock();
        --parent->reads_below;
        folder->listing = std::move(listing);
    }
    folder->state = Folder::State::entered;
    current_ = folder;
    open_below(folder, true);
    wake_reader();
    return folder;
}

ReadAheadEngine::Folder* ReadAheadEngine::adopt(Folder* parent, std::size_t index,
                                                std::unique_ptr<Held> listing) {
    std::lock_guard lock(mutex_);
    Folder* folder = new_folder(parent, index);
    parent->next_subfolder = std::max(parent->next_subfolder, index + 1);
    folder->listing = std::move(listing);
    folder->state = Folder::State::entered;
    current_ = folder;
    open_below(folder, true);
    return folder;
}

void ReadAheadEngine::pass_over(Folder* folder, std::size_t count) {
    std::lock_guard lock(mutex_);
    folder->next_subfolder = std::max(folder->next_subfolder, count);
}

void ReadAheadEngine::read_below(Folder* folder) {
    std::lock_guard lock(mutex_);
    if (folder->dropped) return;
    folder->opened_below = true;
    folder->subfolders = std::max(folder->subfolders, source_.subfolder_count(*folder->listing));
    open_below(folder, true);
}

void ReadAheadEngine::set_reading(bool reading) {
    {
        std::lock_guard lock(mutex_);
        if (reading == reading_) return;
        reading_ = reading;
    }
    if (!reading) return;
    start_readers();
    work_ready_.notify_all();
}

void ReadAheadEngine::leave(Folder* folder) {
    std::lock_guard lock(mutex_);
    if (folder == current_) current_ = folder->parent;
    drop(folder);
    wake_reader();
}

// Marks the folder and everything read below it as not needed and frees what
// no reader still uses. Folders being read are freed by their readers.
void ReadAheadEngine::drop(Folder* top) {
    std::vector<Folder*> pending{top};
    while (!pending.empty()) {
        Folder* folder = pending.back();
        pending.pop_back();
        folder->dropped = true;
        pending.insert(pending.end(), folder->below.begin(), folder->below.end());
        folder->below.clear();
        if (folder->state == Folder::State::read) {
            --folders_ahead_;
            bytes_ahead_ -= folder->bytes;
            ++figures_.dropped;
            folder->state = Folder::State::given_up;
        }
        free_if_unused(folder);
    }
}

void ReadAheadEngine::free_if_unused(Folder* folder) {
    if (!folder->dropped || folder->state == Folder::State::reading || folder->reads_below > 0 ||
        !folder->below.empty() || folder == root_)
        return;
    if (folder->previous != nullptr) folder->previous->next = folder->next;
    if (folder->next != nullptr) folder->next->previous = folder->previous;
    if (all_ == folder) all_ = folder->next;
    delete folder;
}

}  // namespace kestrafin::search
