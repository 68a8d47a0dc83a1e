// Reading folders ahead of the walk. Reader threads read the subfolders the
// walk will most likely enter next, in the walk's own order: below the
// folder it is in, then below each folder above it, and below what they read
// before the walk gets there. The walk takes a listing read ahead when it
// enters the folder, or reads the folder itself when no reader has (or one
// gave it up), so what it lists never depends on the readers; only its speed
// does. Where folders are found cached, the walk reads the next ones itself
// while it waits for a reader, as a reader would.
//
// The walk lends the readers each folder of its descent: its listing, which
// it does not change until it leaves the folder, and its handle. Readers copy
// what they need from a listing while they hold the read-ahead's lock, so
// the walk may take a listing read ahead into its own frame at any time.
//
// What is held ahead of the walk is bounded by a count of folders and by the
// bytes their listings hold. A reader gives a folder up (and the walk reads
// it when it gets there) when its listing outgrows the bytes left, when
// anything fails (so that the walk meets the failure in its place).
//
// Handles. On some hosts an open folder stops others from renaming or
// moving the folders above it (NTFS, and so a Windows share however it is
// mounted), so no folder is held open longer than the walk needs it. A
// reader holds two at most: the folder it lists and the one it opens it in,
// which is the walk's, one kept below, or one it opened again by its path.
// The read-ahead keeps open one folder per reader below the walk (the limit
// handles_kept), for the next reads in it, and lets it go once they have all
// started, or once the walk enters it: the descent then holds it within its
// own budget. A folder opened again is read below only when it is still the
// folder that was listed: its identity must match what was listed, else the
// reader gives the subfolder up. So a walk holds its descent's handles and
// three for each reader and for the walk as it reads for them
// (kHandlesMostPerThread, searchfiles.h).
//
// Only the walk's thread calls lend, take, leave, stop and abandon.
// Reader::read runs on the reader threads, several at once, and on the walk's
// thread while it waits for a reader.
//
// A walk that stops does not wait for readers that wait for the host (a
// folder on a share that no longer answers, one that Wine lists for seconds):
// it abandons them, and the last of them frees the read-ahead and the reader.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/folders.h"
#include "search/folder_listing.h"
#include "search/read_allowance.h"
#include "search/reader_count.h"

namespace kestrafin::search {

// The host's processors, one at least.
inline const std::size_t kProcessors = std::max(1u, std::thread::hardware_concurrency());

// The open handle of one folder, shared by the walk and the readers that open
// its subfolders. A reader's copy of the handle keeps it open only until its
// open is done; closing the slot frees the handle then.
class SharedFolder {
  public:
    std::shared_ptr<const platform::Folder> get() const {
        std::lock_guard lock(mutex_);
        return folder_;
    }
    bool is_open() const {
        std::lock_guard lock(mutex_);
        return folder_ != nullptr;
    }
    void set(std::shared_ptr<const platform::Folder> folder) {
        std::lock_guard lock(mutex_);
        folder_ = std::move(folder);
    }
    void close() { set(nullptr); }
    // Empties the slot and hands its handle to the caller, who closes it
    // (unless copies still hold it) where it chooses.
    std::shared_ptr<const platform::Folder> take() {
        std::lock_guard lock(mutex_);
        return std::move(folder_);
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const platform::Folder> folder_;
};

// Everything a reader needs to read one folder, copied from its parent.
struct FolderToRead {
    std::string name;
    std::string path;  // the folder's whole path; empty when too long to keep
    // The parent's open handle, held for the reader; none when it was let
    // go, and the reader then opens the parent again by its path. The reader
    // may take it, to let it go as soon as its open is done.
    std::shared_ptr<const platform::Folder> parent;
    platform::FolderIdentity parent_identity;  // as the parent was listed
    std::size_t parent_slashed_units = 0;
    bool parent_on_kernel_file_system = false;
    bool through_link = false;
};

// What a reader read.
struct FolderRead {
    FolderListing listing;
    // Set when it has subfolders to read below; holds its handle when the
    // reader offers it to be kept for them.
    std::shared_ptr<SharedFolder> folder;
    // False when the folder cannot be opened again once its handle is let go
    // (its path was too long to keep, or its identity is unknown): readers
    // then read below it only while its handle is kept.
    bool reopenable = true;
    // The parent, opened again by its path, offered to be kept for the next
    // reads in it.
    std::shared_ptr<const platform::Folder> reopened_parent;
};

// The counts each walk sets for itself are none unless given; the bounds of
// what is held ahead are the walk's own.
struct ReadAheadLimits {
    std::size_t readers = 0;  // reader threads at most; each starts when it is first needed
    // Readers at work at first (one at least), and again wherever their reads
    // are found cached; more when it pays.
    std::size_t first_readers = 0;
    // Readers at work at least wherever their reads are found to wait, as on
    // a local disk whose data is not cached; all of them where reads wait as
    // long as a share's.
    std::size_t readers_where_reads_wait = 0;
    std::size_t max_bytes = std::size_t{8} << 20;  // held by listings read ahead, not taken
    std::size_t max_folders = 4096;                // being read or read ahead, not taken
    std::size_t longest_path_kept = 4096;          // longer paths are not copied for readers
    // Handles of folders read ahead kept open at most, for the reads below
    // them; one per reader.
    std::size_t handles_kept = 0;
    // Whether reads are taken for cached until the readers' first ones are
    // judged.
    bool reads_cached = false;
    // The walk's stop request: once it is set, readers read no further and
    // the walk waits for none of them.
    const std::atomic<bool>* stop = nullptr;
};

class ReadAhead {
  public:
    // Reads `folder` into `read` within `allowance`; false gives it up, and
    // the walk reads it itself. `read.folder`, when set, has its subfolders
    // read ahead too. The walk's own reader (searchfiles.cpp) opens it below
    // the parent's handle, or below the parent opened again by its path.
    class Reader {
      public:
        virtual ~Reader() = default;
        virtual bool read(FolderToRead& folder, FolderRead& read, ReadAllowance& allowance) = 0;
    };
    // A folder lent to the readers or read ahead below one.
    struct Branch;

    // Starts the first readers.
    ReadAhead(Reader& reader, const ReadAheadLimits& limits);
    // Stops and joins the readers; what they read is freed.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Lends the readers the folder the walk has just entered (one level below
    // the last one lent and not left): its listing, unchanged until leave(),
    // its handle, its slashed path (may be empty) and that path's UTF-16
    // units. Readers read its subfolders from `first` on; below a folder
    // entered through a link only once the walk has entered it. The branch
    // returned lasts until it is left.
    Branch* lend(const FolderListing& listing, std::shared_ptr<SharedFolder> folder,
                 std::string_view slashed_path, std::size_t slashed_units, std::size_t first);

    // Enters subfolder `index` of `parent`, the folder lent last. When a
    // reader has read it, its listing is swapped into `listing` and the
    // result says so; when it has subfolders, the result also holds its
    // handle and its branch, already lent (a folder without any is never
    // lent, and the walk need not leave it). Otherwise the result is empty,
    // and the walk reads the folder itself and lends it. Waits while a
    // reader is still reading it. The indices entered below one folder rise;
    // those passed over are dropped with everything read below them.
    struct Taken {
        bool read = false;
        bool stopped = false;                  // the stop request came while a reader read it
        Branch* branch = nullptr;              // none when it has no subfolders
        std::shared_ptr<SharedFolder> folder;  // none when it has no subfolders
    };
    Taken take(Branch* parent, std::size_t index, FolderListing& listing);

    // The walk is done with `branch` and with every folder lent after it: no
    // more is read below them, and what was read is freed.
    void leave(Branch* branch);

    // Ends reading ahead: readers end their reads early and start no more.
    void stop();

    // Stops `read_ahead` without waiting for its readers: those that still
    // read end on their own, and the last one frees it and `reader` (which
    // must be the read-ahead's reader). Branches may still be left after it.
    static void abandon(std::shared_ptr<ReadAhead> read_ahead, std::shared_ptr<Reader> reader);
    // Readers abandoned so that have not yet ended, in the whole process;
    // each counts until it has let go of everything.
    static std::size_t abandoned_readers() { return abandoned_readers_.load(); }

  private:
    struct Node;
    struct ReaderState;
    void lock_soon(std::unique_lock<std::mutex>& lock);
    std::unique_lock<std::mutex> locked_soon();
    void run_reader();
    bool read_next(std::unique_lock<std::mutex>& lock, ReaderState& state);
    bool await(Node* node, std::unique_lock<std::mutex>& lock);
    bool stop_requested() const {
        return limits_.stop != nullptr && limits_.stop->load(std::memory_order_relaxed);
    }
    Branch* next_to_read();
    Branch* first_unread_in(Branch* top);
    static std::size_t past_spent_after(const Branch& branch, std::size_t at);
    bool has_room() const;
    bool reader_wanted() const;
    void keep_or_free(Node* node);
    struct Freeing;
    void free_let_go(std::unique_lock<std::mutex>& lock, Freeing& freeing);
    bool keep_handle(Branch& branch, std::shared_ptr<const platform::Folder> handle);
    void let_go_handle(Branch& branch);
    void start_readers();
    void drop(Node* node);
    void forget(const Branch& branch);
    void keep_for_next_reads(std::unique_ptr<Branch> branch);

    Reader& reader_;
    const ReadAheadLimits limits_;
    mutable std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable listing_ready_;
    std::vector<std::unique_ptr<Branch>> descent_;  // lent, the walk's deepest last
    // Nodes and handles let go of while the lock is held, freed (their
    // handles closed) by whoever lets it go next.
    std::vector<Node*> to_free_;
    std::vector<std::shared_ptr<const platform::Folder>> handles_to_close_;
    std::unique_ptr<Freeing> walk_freeing_;               // the walk's, for free_let_go
    std::vector<std::unique_ptr<Branch>> walk_left_;      // the walk's, freed outside the lock
    std::vector<std::unique_ptr<Branch>> walk_kept_;      // the walk's, for kept_branches_
    std::vector<std::unique_ptr<Branch>> kept_branches_;  // for the next reads
    std::vector<Node*> kept_nodes_;                       // for the next reads; see keep_or_free
    std::unique_ptr<ReaderState> walk_reads_;             // the walk's, while it waits for a reader
    // Subfolders of the branches held that no reader has taken yet; readers
    // are woken only while there are some.
    std::size_t unread_ = 0;
    const Node* awaited_ = nullptr;  // the walk sleeps until its reader is done
    std::size_t folders_ahead_ = 0;
    std::size_t handles_kept_ = 0;  // by branches read ahead, within limits_.handles_kept
    bool out_of_room_ = false;  // the last reader to look for a read found no room
    std::size_t idle_readers_ = 0;
    std::size_t busy_readers_ = 0;
    ReaderCount reader_count_;  // readers at work at once
    std::atomic<std::size_t> bytes_ahead_{0};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> trying_lock_pays_{true};  // while every reader at work has a processor
    std::vector<std::thread> readers_;
    std::size_t running_readers_ = 0;  // threads not yet at their end
    // Once abandoned, what the last reader to end lets go.
    std::shared_ptr<void> abandoned_;
    bool was_abandoned_ = false;
    static inline std::atomic<std::size_t> abandoned_readers_{0};
};

}  // namespace kestrafin::search
