// Tells whether the walk's own folder reads wait for the host, as on a share
// or on a disk whose data is not cached. Folders in memory the walk reads
// faster than reader threads could hand them over, and a reader busy on the
// same processor would slow it; so the walk reads ahead only once its reads
// are found to wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrafin::search {

class ReadWaits {
  public:
    // One folder read being watched; only some are timed.
    struct Read {
        bool timed = false;
        bool asked_host = false;
        std::chrono::steady_clock::time_point started;
        std::optional<std::uint64_t> waits_before;
    };

    // Call before opening a folder. A read that fails is simply not finished.
    Read start();
    // Call once the folder has been read whole. Whether the read waited,
    // when it was timed.
    std::optional<bool> finish(const Read& read);

    // True once half or more of the recent timed reads waited for the host.
    bool reads_wait() const;
    // True when half or more of them waited as long as a share makes them
    // (a fifth of a millisecond or more): reads that overlap without end,
    // unlike those of a local disk, which its processor's work soon bounds.
    bool reads_wait_long() const;

  private:
    std::size_t reads_ = 0;
    int waited_percent_ = 0;  // of recent timed reads; the last four weigh most
    int waited_long_percent_ = 0;
    bool last_read_slow_ = false;
    bool host_tells_waits_ = false;
    bool host_asked_ = false;
};

}  // namespace kestrafin::search
