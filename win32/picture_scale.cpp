#include "win32/picture_scale.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrafin::win32 {

namespace {

struct Share {
    int from;
    double weight;
};

// For each of `to` target pixels along a line of `side`, the source pixels it
// covers and by how much, the weights adding up to 1.
std::vector<std::vector<Share>> shares(int side, int to) {
    std::vector<std::vector<Share>> all(static_cast<std::size_t>(to));
    const double step = static_cast<double>(side) / to;
    for (int target = 0; target < to; ++target) {
        const double start = target * step, end = start + step;
        auto& mine = all[static_cast<std::size_t>(target)];
        for (int from = static_cast<int>(start); from < side && from < end; ++from) {
            const double covered = std::min<double>(end, from + 1) - std::max<double>(start, from);
            if (covered > 0) mine.push_back({from, covered / step});
        }
    }
    return all;
}

}  // namespace

std::vector<std::uint32_t> scale_square(const std::vector<std::uint32_t>& pixels, int side,
                                        int to) {
    const auto across = shares(side, to);
    const auto index = [](int x, int y, int width) {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
               static_cast<std::size_t>(x);
    };
    // Rows first, into `to` columns, then the columns into `to` rows.
    std::vector<std::array<double, 3>> narrowed(static_cast<std::size_t>(side) *
                                                static_cast<std::size_t>(to));
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < to; ++x) {
            std::array<double, 3> sum{};
            for (const Share& share : across[static_cast<std::size_t>(x)]) {
                const std::uint32_t pixel = pixels[index(share.from, y, side)];
                for (int channel = 0; channel < 3; ++channel)
                    sum[static_cast<std::size_t>(channel)] +=
                        share.weight * static_cast<double>((pixel >> (8 * channel)) & 0xFF);
            }
            narrowed[index(x, y, to)] = sum;
        }
    std::vector<std::uint32_t> scaled(static_cast<std::size_t>(to) * static_cast<std::size_t>(to));
    for (int y = 0; y < to; ++y)
        for (int x = 0; x < to; ++x) {
            std::array<double, 3> sum{};
            for (const Share& share : across[static_cast<std::size_t>(y)])
                for (std::size_t channel = 0; channel < 3; ++channel)
                    sum[channel] += share.weight * narrowed[index(x, share.from, to)][channel];
            std::uint32_t pixel = 0;
            for (std::size_t channel = 0; channel < 3; ++channel)
                pixel |= static_cast<std::uint32_t>(std::clamp(std::lround(sum[channel]), 0L, 255L))
                         << (8 * channel);
            scaled[index(x, y, to)] = pixel;
        }
    return scaled;
}

}  // namespace kestrafin::win32
