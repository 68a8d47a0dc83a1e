#include "search/read_waits.h"

#include "platform/folders.h"

namespace kestrafin::search {

namespace {

// A slow read waited when the host says the thread gave up the processor
// meanwhile (asked only after a slow read, since asking costs more than
// timing). A local disk answers a read that is not cached in well under a
// tenth of a millisecond, and a folder in memory may take longer than that
// to list: where the host can tell, a read that short is asked about; where
// it cannot, only a read as slow as a share's counts.
constexpr std::chrono::nanoseconds kSlowReadToAsk = std::chrono::microseconds(50);
constexpr std::chrono::nanoseconds kSlowRead = std::chrono::microseconds(200);
// A disk that is not cached answers a folder's few reads within this even
// with a queue; a share's round trips take longer.
constexpr std::chrono::nanoseconds kLongWait = std::chrono::milliseconds(1);
constexpr int kWaitingPercent = 50;

}  // namespace

ReadWaits::Read ReadWaits::start() {
    Read read;
    if (++reads_ % sample_every_ != 0) return read;
    if (!host_asked_) {
        host_asked_ = true;
        host_tells_waits_ = platform::thread_waits().has_value();
    }
    read.timed = true;
    read.asked_host = last_read_slow_ && host_tells_waits_;
    if (read.asked_host) read.waits_before = platform::thread_waits();
    read.started = std::chrono::steady_clock::now();
    return read;
}

std::optional<ReadWaits::Waited> ReadWaits::finish(const Read& read) {
    if (!read.timed) return std::nullopt;
    const auto took = std::chrono::steady_clock::now() - read.started;
    const bool slow = took >= (host_tells_waits_ ? kSlowReadToAsk : kSlowRead);
    last_read_slow_ = slow;
    bool waited = slow;
    if (slow && host_tells_waits_) {
        // Until a slow read has been seen the host was not asked, and this
        // read tells nothing; the next one is asked.
        if (!read.asked_host) return std::nullopt;
        const auto waits_after = platform::thread_waits();
        waited = read.waits_before && waits_after && *waits_after != *read.waits_before;
    }
    waited_percent_ += ((waited ? 100 : 0) - waited_percent_) / 4;
    const bool waited_long = waited && took >= kLongWait;
    waited_long_percent_ += ((waited_long ? 100 : 0) - waited_long_percent_) / 4;
    if (waited_long) return Waited::as_long_as_a_share;
    return waited ? Waited::briefly : Waited::not_at_all;
}

bool ReadWaits::reads_wait() const {
    return waited_percent_ >= kWaitingPercent;
}

bool ReadWaits::reads_wait_long() const {
    return waited_long_percent_ >= kWaitingPercent;
}

}  // namespace kestrafin::search
