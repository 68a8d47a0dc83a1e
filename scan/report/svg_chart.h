// Charts as inline SVG text, drawn here so that a page needs nothing from
// anywhere else. Each chart's size is its viewBox alone, so it scales to the
// width it is given, on a screen or on paper; every figure is written as text
// beside its mark, and every label is escaped (scan/report/markup.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrafin::scan::report {

struct ChartBar {
    std::string label;  // exact bytes
    std::uint64_t value = 0;
};

// One row per bar, its label on the left and its count after the bar.
std::string horizontal_bars_svg(const std::vector<ChartBar>& bars, std::string_view title);

// A column per bar, in the order given, its count above it and its label
// below: a histogram.
std::string columns_svg(const std::vector<ChartBar>& bars, std::string_view title,
                        std::string_view axis_title);

struct ChartPoint {
    std::int64_t x = 0;  // seconds, or any other count along the axis
    std::string label;   // shown under the point
    std::uint64_t value = 0;
};

// A line through the points, each marked and its value written above it; the
// axis runs from 0 to above the greatest value.
std::string line_svg(const std::vector<ChartPoint>& points, std::string_view title);

}  // namespace kestrafin::scan::report
