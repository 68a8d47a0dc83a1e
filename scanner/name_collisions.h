// Names of one folder that become one name at a destination that ignores
// case and Unicode form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrafin::scanner {

class NameCollisions {
  public:
    // Sets colliding[i] for each of `names` that some other of them equals at
    // the destination; `colliding` gets one flag per name.
    void find(const std::vector<std::string_view>& names, std::vector<bool>& colliding);

  private:
    struct Hashed {
        std::uint64_t hash;
        std::size_t index;
    };
    std::vector<Hashed> hashed_;  // kept for its memory
};

}  // namespace kestrafin::scanner
