// When a list that grows during a search shows its new rows. The view lays
// out all of its rows again, and paints them, whenever rows are added at its
// end, so showing new rows at every tick would cost a long search time in
// proportion to the square of its entries. New rows show once they are at
// least half as many as the rows shown already, or once `longest_wait` has
// passed since rows last showed; the caller shows the rest when the search
// ends.
#pragma once

#include <chrono>
#include <cstddef>

namespace kestrafin::window {

class RowSchedule {
  public:
    using Clock = std::chrono::steady_clock;

    RowSchedule(std::chrono::milliseconds longest_wait, Clock::time_point start)
        : longest_wait_(longest_wait), last_shown_(start) {}

    // True when the list, holding `total` entries of which `shown` show,
    // should show them all now; it then counts them as shown at `now`.
    bool due(std::size_t shown, std::size_t total, Clock::time_point now) {
        if (total <= shown) return false;
        if (total - shown < shown / 2 && now - last_shown_ < longest_wait_) return false;
        last_shown_ = now;
        return true;
    }

  private:
    std::chrono::milliseconds longest_wait_;
    Clock::time_point last_shown_;
};

}  // namespace kestrafin::window
