// Which folders of the current descent keep their handle open, so that a
// walk of any depth holds a fixed number of descriptors. The deepest folders
// stay open, since the walk opens their children next; shallower ones are
// closed so that those left open are spread evenly, and a closed folder is
// reopened from its nearest open ancestor when the walk comes back to it.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace kestrafin::search {

// The root and the folder the walk is in: a process left few handles (six in
// all, with the standard three) still walks everything, reopening folders
// from the root.
inline constexpr std::size_t kFewestOpenFolders = 2;

class DescriptorBudget {
  public:
    // `limit` open handles at most; at least kFewestOpenFolders.
    explicit DescriptorBudget(std::size_t limit);

    // Notes that the folder at `depth` holds an open handle; every depth noted
    // before it that is still open is shallower. Returns the depth whose handle
    // must be closed to keep the budget, or nothing. The root (depth 0) and
    // the deepest half of the budget are never chosen.
    std::optional<std::size_t> opened(std::size_t depth);

    // Notes that the folder at `depth` closed its handle (or left the descent).
    void closed(std::size_t depth);

    // The deepest open depth at or above `depth`; nothing when none is open.
    std::optional<std::size_t> nearest_open(std::size_t depth) const;

  private:
    std::size_t limit_;
    std::vector<std::size_t> open_depths_;  // ascending
};

}  // namespace kestrafin::search
