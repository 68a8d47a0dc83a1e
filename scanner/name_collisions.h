// Names of one folder that become one name at a destination that ignores
// case and Unicode form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrafin::scanner {

class NameCollisions {
  public:
    // Sets colliding[i] for each of `names` that some other of them equals at
    // the destination; `colliding` gets one flag per name.
    void find(const std::vector<std::string_view>& names, std::vector<bool>& colliding);

  private:
    std::vector<std::pair<std::string, std::size_t>> keys_;  // kept for its memory
};

}  // namespace kestrafin::scanner
