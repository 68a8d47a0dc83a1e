// Names of one folder that become one name at a destination that ignores
// case (and perhaps Unicode form). Linear in the names: each name joins the
// group of its key, and each group is settled in one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/name_folding.h"

namespace kestrafin::scan {

class NameCollisions {
  public:
    // Sets colliding[i] for each of `names` that some other of them equals
    // under `comparison`; `colliding` holds one flag per name, and flags
    // already set stay set, so that several comparisons add up.
    void find(const std::vector<std::string_view>& names, platform::NameComparison comparison,
              std::vector<bool>& colliding);

    // Hashes and keys compared so far, for tests that hold the work linear.
    std::size_t comparisons() const { return comparisons_; }

  private:
    std::vector<std::uint64_t> hashes_;
    std::vector<std::size_t> slots_;  // the first name of each hash, open addressing
    std::vector<std::size_t> next_;   // the next name of the same hash
    std::size_t comparisons_ = 0;
};

}  // namespace kestrafin::scan
