#include "window/window_design.h"

#include <climits>

#include "window/count_label.h"

namespace kestrafin::window::design {

namespace {

constexpr double kShrinkStep = 0.25;
constexpr double kSmallestPoints = 5;

}  // namespace

std::string fitted_text(const Control& control) {
    // A list view counts its rows in an int.
    if (&control == &lbllistcount) return count_label_text(INT_MAX);
    return std::string(control.caption);
}

double fitted_points(double points, double scale, const std::function<bool(double)>& fits) {
    const double smallest = kSmallestPoints * scale;
    double size = points * scale;
    while (size > smallest && !fits(size)) size -= kShrinkStep;
    return size;
}

std::string list_description(std::size_t rows) {
    return "The paths of the files found: " + std::to_string(rows) + " entries";
}

std::string status_tip(std::string_view line, std::string_view added) {
    std::string tip(line);
    if (!added.empty()) tip.append("\n\n").append(added);
    return tip;
}

}  // namespace kestrafin::window::design
