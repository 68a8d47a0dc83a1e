#include "scanner/name_collisions.h"

#include <algorithm>

#include "platform/name_folding.h"

namespace kestrafin::scanner {

void NameCollisions::find(const std::vector<std::string_view>& names,
                          std::vector<bool>& colliding) {
    colliding.assign(names.size(), false);
    if (names.size() < 2) return;
    keys_.resize(names.size());
    for (std::size_t at = 0; at < names.size(); ++at)
        keys_[at] = {platform::name_comparison_key(names[at]), at};
    std::sort(keys_.begin(), keys_.end());
    for (std::size_t at = 1; at < keys_.size(); ++at)
        if (keys_[at].first == keys_[at - 1].first)
            colliding[keys_[at].second] = colliding[keys_[at - 1].second] = true;
}

}  // namespace kestrafin::scanner
