// Reading folders ahead of a depth-first walk. A pool of reader threads reads
// the subfolders that the walk will most likely enter next, while the walk
// itself (the one consumer) still takes every listing in its own order: a
// listing read ahead is handed over, one not yet read is read on the spot.
// So what the walk emits never depends on the threads; only its speed does.
//
// What is held ahead of the consumer is bounded by a count of folders and by
// the bytes their listings hold; at either bound the readers wait. A folder
// whose listing outgrows the bytes left is given up by its reader and read by
// the consumer when it gets there; so is one whose reading failed, so that
// the consumer meets the failure in its place.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "search/read_allowance.h"

namespace kestrafin::search {

struct ReadAheadLimits {
    std::size_t readers = 0;  // reader threads besides the consumer; 0 reads nothing ahead
    std::size_t max_bytes = std::size_t{16} << 20;  // held by listings read ahead, not yet entered
    std::size_t max_folders = 4096;                 // being read or read ahead, not yet entered
    bool reading = true;  // false: no reader starts before set_reading(true)
};

// What one read-ahead did, for tests and benchmarks.
struct ReadAheadFigures {
    std::size_t peak_bytes = 0;     // most bytes granted to listings ahead at one time
    std::size_t peak_folders = 0;   // most folders ahead at one time
    std::size_t read_ahead = 0;     // listings read by a reader and entered by the consumer
    std::size_t read_on_entry = 0;  // listings the consumer had to read itself
    std::size_t given_up = 0;       // reads a reader gave up, for the budget or a failure
    std::size_t dropped = 0;        // listings read ahead that the consumer never entered
};

// The typeless core of ReadAhead below; use that.
class ReadAheadEngine {
  public:
    struct Held {
        virtual ~Held() = default;
    };
    class Source {
      public:
        virtual ~Source() = default;
        // Reads subfolder `index` of the folder listed in `parent`. Called from
        // reader threads and the consumer at once; `parent` is not changed
        // meanwhile. Null when a reader gives the folder up (the allowance
        // refused, or anything failed that the consumer should meet itself);
        // never with an unbounded allowance.
        virtual std::unique_ptr<Held> read_subfolder(const Held& parent, std::size_t index,
                                                     ReadAllowance& allowance) = 0;
        // How many subfolders of the listing the consumer may enter.
        virtual std::size_t subfolder_count(const Held& listing) = 0;
        // Whether to read below a listing before the consumer has entered it.
        virtual bool read_below_before_entry(const Held& listing) = 0;
        // Every subfolder of a listing read ahead, not entered, has been read.
        virtual void finished_below(const Held& /*listing*/) {}
    };
    struct Folder;

    ReadAheadEngine(std::unique_ptr<Held> root, Source& source, const ReadAheadLimits& limits);
    ~ReadAheadEngine();
    ReadAheadEngine(const ReadAheadEngine&) = delete;
    ReadAheadEngine& operator=(const ReadAheadEngine&) = delete;

    Folder* root() { return root_; }
    const Held& listing(const Folder* folder) const;
    Folder* enter(Folder* parent, std::size_t index);
    Folder* adopt(Folder* parent, std::size_t index, std::unique_ptr<Held> listing);
    void pass_over(Folder* folder, std::size_t count);
    void read_below(Folder* folder);
    void set_reading(bool reading);
    void leave(Folder* folder);
    void stop();
    ReadAheadFigures figures() const;

  private:
    Folder* new_folder(Folder* parent, std::size_t index);
    void start_readers();
    void read_ahead();
    Folder* next_to_read();
    Folder* first_unread_in(Folder* top);
    bool has_room() const;
    void finish_read(Folder* folder, std::unique_ptr<Held> listing, std::size_t granted);
    void open_below(Folder* folder, bool entered);
    void drop(Folder* folder);
    void free_if_unused(Folder* folder);
    void wake_reader();

    Source& source_;
    const ReadAheadLimits limits_;
    mutable std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable listing_ready_;
    struct SearchStep {
        Folder* folder;
        std::size_t next_below;
    };
    std::vector<SearchStep> search_;  // next_to_read's, kept for its memory
    std::vector<std::thread> readers_;
    Folder* root_ = nullptr;
    Folder* current_ =
        nullptr;             // the deepest folder the consumer is in; null once it left the root
    Folder* all_ = nullptr;  // every live folder, linked, so that none outlives the engine
    const Folder* awaited_ = nullptr;
    std::size_t folders_ahead_ = 0;
    std::size_t idle_readers_ = 0;
    std::atomic<std::size_t> bytes_ahead_{0};
    std::atomic<std::size_t> peak_bytes_{0};
    std::atomic<bool> stopping_{false};
    bool reading_ = true;
    ReadAheadFigures figures_;
};

// The read-ahead for one walk over listings of type `Listing`.
template <typename Listing>
class ReadAhead {
  public:
    struct Reading {
        // Reads subfolder `index` of `parent`; see ReadAheadEngine::Source.
        // With an unbounded allowance it always returns a listing.
        std::function<std::optional<Listing>(const Listing& parent, std::size_t index,
                                             ReadAllowance& allowance)>
            read_subfolder;
        std::function<std::size_t(const Listing&)> subfolder_count;
        std::function<bool(const Listing&)> read_below_before_entry = [](const Listing&) {
            return true;
        };
        std::function<void(const Listing&)> finished_below = [](const Listing&) {};
    };
    using Folder = ReadAheadEngine::Folder*;

    // Holds `root` and starts the readers.
    ReadAhead(Listing root, Reading reading, const ReadAheadLimits& limits)
        : source_(std::move(reading)),
          engine_(std::make_unique<Typed>(std::move(root)), source_, limits) {}

    Folder root() { return engine_.root(); }

    // The listing of an entered folder; valid until the folder is left.
    const Listing& listing(Folder folder) const {
        return static_cast<const Typed&>(engine_.listing(folder)).value;
    }

    // Enters subfolder `index` of `parent` and returns it with its listing,
    // read ahead or read now. The indices entered below one folder rise;
    // subfolders passed over are dropped with everything read below them.
    Folder enter(Folder parent, std::size_t index) { return engine_.enter(parent, index); }

    // Enters subfolder `index` of `parent` with the listing the walk read
    // before the read-ahead took it over. Only while not reading.
    Folder adopt(Folder parent, std::size_t index, Listing listing) {
        return engine_.adopt(parent, index, std::make_unique<Typed>(std::move(listing)));
    }

    // The walk has passed the first `count` subfolders of `folder` before the
    // read-ahead took it over: none of them is read. Only while not reading.
    void pass_over(Folder folder, std::size_t count) { engine_.pass_over(folder, count); }

    // Asks subfolder_count again for an entered folder and reads ahead below
    // it up to the new count; for a folder that could not be read below before.
    void read_below(Folder folder) { engine_.read_below(folder); }

    // Lets the readers read ahead, or makes them wait after the reads under
    // way. They read, in the walk's order, below every folder entered or read
    // ahead whose subfolders are known.
    void set_reading(bool reading) { engine_.set_reading(reading); }

    // The consumer is done with `folder` and all below it.
    void leave(Folder folder) { engine_.leave(folder); }

    // Ends reading ahead; the readers end their reads early. Entering still
    // works, reading on the spot. The destructor stops and joins the readers.
    void stop() { engine_.stop(); }

    ReadAheadFigures figures() const { return engine_.figures(); }

  private:
    struct Typed : ReadAheadEngine::Held {
        explicit Typed(Listing listing) : value(std::move(listing)) {}
        Listing value;
    };
    struct TypedSource : ReadAheadEngine::Source {
        explicit TypedSource(Reading reading) : reading(std::move(reading)) {}
        std::unique_ptr<ReadAheadEngine::Held> read_subfolder(const ReadAheadEngine::Held& parent,
                                                              std::size_t index,
                                                              ReadAllowance& allowance) override {
            std::optional<Listing> read =
                reading.read_subfolder(static_cast<const Typed&>(parent).value, index, allowance);
            if (!read) return nullptr;
            return std::make_unique<Typed>(std::move(*read));
        }
        std::size_t subfolder_count(const ReadAheadEngine::Held& listing) override {
            return reading.subfolder_count(static_cast<const Typed&>(listing).value);
        }
        bool read_below_before_entry(const ReadAheadEngine::Held& listing) override {
            return reading.read_below_before_entry(static_cast<const Typed&>(listing).value);
        }
        void finished_below(const ReadAheadEngine::Held& listing) override {
            reading.finished_below(static_cast<const Typed&>(listing).value);
        }
        Reading reading;
    };

    TypedSource source_;
    ReadAheadEngine engine_;
};

}  // namespace kestrafin::search
