// A budget share for one folder being read ahead: the reader asks before its
// listing grows past what it was granted, and stops when refused.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>

namespace kestrafin::search {

// Lets a listing grow while a reader fills it. The reader asks before its
// listing holds more bytes than it was granted.
class ReadAllowance {
  public:
    // An allowance without bound, for reads by the consumer.
    ReadAllowance() = default;

    // True when the listing may hold `bytes` in all; false when the budget
    // cannot grant them or the read-ahead is stopping: the reader then stops
    // and returns nothing.
    bool allow(std::size_t bytes) {
        if (bytes > granted_ && !grow(bytes)) return false;
        used_ = std::max(used_, bytes);
        return true;
    }

    std::size_t granted() const { return granted_; }
    // The most bytes asked for and allowed.
    std::size_t used() const { return used_; }

  private:
    friend class ReadAhead;
    bool grow(std::size_t bytes);

    std::atomic<std::size_t>* held_ = nullptr;  // null: without bound
    const std::atomic<bool>* stopping_ = nullptr;
    std::size_t max_bytes_ = 0;
    std::size_t granted_ = static_cast<std::size_t>(-1);
    std::size_t used_ = 0;
};

}  // namespace kestrafin::search
