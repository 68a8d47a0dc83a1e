// Tells whether folder reads wait for the host, as on a share or on a disk
// whose data is not cached, and how long: how many readers pay depends on it.
// Folders in memory are read no faster by more readers than there are
// processors; reads that wait for a disk overlap up to its queue, and those
// that wait for a share without end. Not thread-safe: one per reading thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrafin::search {

class ReadWaits {
  public:
    // Times one read in `sample_every`.
    explicit ReadWaits(std::size_t sample_every = 2) : sample_every_(sample_every) {}

    // One folder read being watched; only some are timed.
    struct Read {
        bool timed = false;
        bool asked_host = false;
        std::chrono::steady_clock::time_point started;
        std::optional<std::uint64_t> waits_before;
    };

    // How long a timed read waited for the host.
    enum class Waited { not_at_all, briefly, as_long_as_a_share };

    // From the next read on, times one read in `sample_every`.
    void time_one_in(std::size_t sample_every) { sample_every_ = sample_every; }

    // Call before opening a folder. A read that fails is simply not finished.
    Read start();
    // Call once the folder has been read whole. Empty for a read not timed.
    std::optional<Waited> finish(const Read& read);

    // True once half or more of the recent timed reads waited for the host.
    bool reads_wait() const;
    // True when half or more of them waited as long as a share makes them
    // (a millisecond or more): reads that overlap without end, unlike those
    // of a local disk, which its processor's work soon bounds.
    bool reads_wait_long() const;

  private:
    std::size_t sample_every_;
    std::size_t reads_ = 0;
    int waited_percent_ = 0;  // of recent timed reads; the last four weigh most
    int waited_long_percent_ = 0;
    bool last_read_slow_ = false;
    bool host_tells_waits_ = false;
    bool host_asked_ = false;
};

}  // namespace kestrafin::search
