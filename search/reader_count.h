// How many readers read ahead at once, from what their recent reads tell of
// the part of the tree they are in: a few where folders are cached, enough
// to keep a disk's queue busy where reads wait briefly, all where they wait
// as long as on a share, and more only where trying them makes folders come
// markedly faster. The count so changes during a walk, from a cached part of
// the tree to one that is not. The rate of reading is measured on the clock
// the caller hands in. Not thread-safe: the read-ahead keeps it under its
// lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

#include "search/read_waits.h"

namespace kestrafin::search {

// Readers beyond this many stop paying, whatever is asked: on a share of
// 5 ms round trips 127 read a fifth faster than 63 and 255 no faster than
// 127; at 1 ms 63 read fastest; a thousand take two or three times as long
// at either, with three times the memory, since each is a thread to wake and
// a handle to hold (tools/share_benchmark.py --threads).
inline constexpr std::size_t kMostReaders = 127;

class ReaderCount {
  public:
    using Clock = std::chrono::steady_clock;

    // `first` readers at work at first and again where reads are cached, at
    // least `where_reads_wait` where they wait, never more than `most`; the
    // reads taken for cached until the first judgement when `cached`. `now`
    // tells the time.
    ReaderCount(std::function<Clock::time_point()> now, std::size_t first,
                std::size_t where_reads_wait, std::size_t most, bool cached = false);

    // Readers that may read at once; at least one.
    std::size_t active() const { return active_; }
    // Whether the last judgement found the reads cached.
    bool reads_cached() const { return reads_cached_; }

    // A folder read ahead, with how long the read waited (nothing when it
    // was not timed) and the most readers' reads under way as it started or
    // ended, a reader's own among them.
    void count_read(std::optional<ReadWaits::Waited> waited, std::size_t under_way);
    // The walk waited for a folder being read ahead, or read one that no
    // reader had taken (not one a reader gave up).
    void walk_waited() { ++round_waits_; }
    // The host refused another thread: there will be no more than `started`.
    void refused_after(std::size_t started);

  private:
    bool reads_wait_as_on_a_share() const;
    void judge_reads();
    void end_round();
    void set_active(std::size_t count);

    const std::function<Clock::time_point()> now_;
    const std::size_t first_;
    const std::size_t where_reads_wait_;
    std::size_t most_;
    std::size_t active_ = 0;
    // The current round of reads, and the rate of reading the count settled on.
    Clock::time_point round_started_;
    std::size_t round_reads_ = 0;
    std::size_t round_waits_ = 0;  // folders the walk waited for or read itself
    std::size_t round_timed_ = 0;  // reads timed, and of them those that waited
    std::size_t round_waited_ = 0;
    // Reads timed that had no more than `first_` under way beside them, and of
    // them those that waited as long as a share's.
    std::size_t round_timed_few_ = 0;
    std::size_t round_waited_long_few_ = 0;
    bool reads_cached_ = false;  // as last judged
    int cached_judgements_ = 0;  // in a row
    double settled_rate_ = 0;
    bool trying_more_ = false;
    int rounds_until_trying_ = 0;
};

}  // namespace kestrafin::search
