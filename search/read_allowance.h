// The bytes one listing may hold while it is read: a reader ahead of the walk
// draws them from the read-ahead's budget (read_ahead.cpp grants them), the
// walk's own reads are not bounded.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>

namespace kestrafin::search {

// The reader asks before its listing holds more bytes than it was granted,
// and stops when refused.
class ReadAllowance {
  public:
    // Without bound, for the walk's own reads.
    ReadAllowance() = default;

    // True when the listing may hold `bytes` in all; false when the budget
    // cannot grant them or the read-ahead is stopping: the reader then stops
    // and returns nothing.
    bool allow(std::size_t bytes) {
        if (bytes > granted_ && !grow(bytes)) return false;
        used_ = std::max(used_, bytes);
        return true;
    }

    // True once the read-ahead that granted the bytes stops, or its walk is
    // asked to: the reader then reads no further, the host's answer it was
    // waiting for aside.
    bool stopped() const {
        return stopping_ != nullptr &&
               (stopping_->load(std::memory_order_relaxed) ||
                (stop_request_ != nullptr && stop_request_->load(std::memory_order_relaxed)));
    }

    std::size_t granted() const { return granted_; }
    // The most bytes asked for and allowed.
    std::size_t used() const { return used_; }

  private:
    friend class ReadAhead;
    bool grow(std::size_t bytes);

    std::atomic<std::size_t>* held_ = nullptr;  // null: without bound
    const std::atomic<bool>* stopping_ = nullptr;
    const std::atomic<bool>* stop_request_ = nullptr;
    std::size_t max_bytes_ = 0;
    std::size_t granted_ = static_cast<std::size_t>(-1);
    std::size_t used_ = 0;
};

}  // namespace kestrafin::search
