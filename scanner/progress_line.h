// One line on a terminal that shows how far a walk has got, redrawn at most
// ten times a second.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace kestrafin::scanner {

class ProgressLine {
  public:
    // Shows nothing unless `descriptor` is a terminal and `enabled` is set.
    ProgressLine(int descriptor, bool enabled);
    void update(std::size_t folders, std::size_t entries, std::string_view folder);
    // Removes the line before other text goes to the terminal.
    void clear();
    bool active() const { return active_; }

  private:
    int descriptor_;
    bool active_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point next_draw_{};
};

}  // namespace kestrafin::scanner
