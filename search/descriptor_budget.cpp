#include "search/descriptor_budget.h"

#include <algorithm>

namespace kestrafin::search {

DescriptorBudget::DescriptorBudget(std::size_t limit)
    : limit_(std::max(limit, kFewestOpenFolders)) {
    open_depths_.reserve(limit_ + 1);
}

std::optional<std::size_t> DescriptorBudget::opened(std::size_t depth) {
    open_depths_.insert(std::upper_bound(open_depths_.begin(), open_depths_.end(), depth), depth);
    if (open_depths_.size() <= limit_) return std::nullopt;
    // Close the handle whose loss leaves the smallest gap between open
    // neighbours: a later reopen then walks few levels.
    const std::size_t kept_deepest = limit_ / 2;
    const std::size_t last_candidate = open_depths_.size() - kept_deepest - 1;
    std::size_t chosen = 1;
    std::size_t smallest_gap = open_depths_[2] - open_depths_[0];
    for (std::size_t i = 2; i <= last_candidate; ++i) {
        const std::size_t gap = open_depths_[i + 1] - open_depths_[i - 1];
        if (gap < smallest_gap) {
            smallest_gap = gap;
            chosen = i;
        }
    }
    const std::size_t closed_depth = open_depths_[chosen];
    open_depths_.erase(open_depths_.begin() + static_cast<std::ptrdiff_t>(chosen));
    return closed_depth;
}

void DescriptorBudget::closed(std::size_t depth) {
    const auto at = std::lower_bound(open_depths_.begin(), open_depths_.end(), depth);
    if (at != open_depths_.end() && *at == depth) open_depths_.erase(at);
}

std::optional<std::size_t> DescriptorBudget::nearest_open(std::size_t depth) const {
    const auto after = std::upper_bound(open_depths_.begin(), open_depths_.end(), depth);
    if (after == open_depths_.begin()) return std::nullopt;
    return *(after - 1);
}

}  // namespace kestrafin::search
