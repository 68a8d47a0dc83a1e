#include "scan/report/svg_chart.h"

#include <algorithm>
#include <cstdio>

#include "scan/report/markup.h"

namespace kestrafin::scan::report {

namespace {

constexpr double kWidth = 520;
// The width of a character at the charts' 12 units, a little above the
// average of the usual sans-serif faces so that labels keep their room.
constexpr double kCharacter = 7.2;
constexpr std::size_t kLongestLabel = 40;

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string open_svg(double height, std::string_view title) {
    std::string out = "<svg class=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " +
                      number(kWidth) + " " + number(height) + "\" role=\"img\" aria-label=\"";
    append_text(out, title);
    out += "\"><title>";
    append_text(out, title);
    out += "</title>";
    return out;
}

// A label of at most kLongestLabel characters shown: a longer one keeps its
// start and its end, where names differ most, around "…".
std::string short_label(std::string_view label) {
    if (shown_length(label) <= kLongestLabel) return markup_text(label);
    // Cut between UTF-8 sequences, never inside one.
    const auto boundary = [&](std::size_t at) {
        while (at > 0 && at < label.size() &&
               (static_cast<unsigned char>(label[at]) & 0xC0) == 0x80)
            --at;
        return at;
    };
    const std::size_t half = kLongestLabel / 2 - 1;
    const std::size_t head = boundary(std::min(half, label.size()));
    const std::size_t tail = boundary(label.size() > half ? label.size() - half : 0);
    return markup_text(label.substr(0, head)) + "\xE2\x80\xA6" + markup_text(label.substr(tail));
}

std::size_t label_length(std::string_view label) {
    return std::min(shown_length(label), kLongestLabel + 1);
}

// A step of 1, 2 or 5 times a power of ten giving about `marks` gridlines up
// to `most`.
std::uint64_t grid_step(std::uint64_t most, std::uint64_t marks) {
    const std::uint64_t rough = std::max<std::uint64_t>(1, most / marks);
    std::uint64_t power = 1;
    while (power <= rough / 10) power *= 10;
    for (const std::uint64_t factor : {1, 2, 5, 10})
        if (power * factor >= rough) return power * factor;
    return power * 10;
}

std::string empty_chart(std::string_view title, std::string_view says) {
    std::string out = open_svg(60, title);
    out += "<text x=\"10\" y=\"35\" class=\"note\">";
    append_text(out, says);
    out += "</text></svg>";
    return out;
}

// Horizontal gridlines with their values on the left, from 0 to `top`.
std::string grid(double left, double top_y, double bottom_y, std::uint64_t top,
                 std::uint64_t step) {
    std::string out;
    for (std::uint64_t value = 0; value <= top; value += step) {
        const double y =
            bottom_y - (bottom_y - top_y) * static_cast<double>(value) / static_cast<double>(top);
        out += "<line class=\"grid\" x1=\"" + number(left) + "\" x2=\"" + number(kWidth - 10) +
               "\" y1=\"" + number(y) + "\" y2=\"" + number(y) + "\"/>";
        out += "<text class=\"axis\" x=\"" + number(left - 6) + "\" y=\"" + number(y + 4) +
               "\" text-anchor=\"end\">" + std::to_string(value) + "</text>";
    }
    return out;
}

}  // namespace

std::string horizontal_bars_svg(const std::vector<ChartBar>& bars, std::string_view title) {
    if (bars.empty()) return empty_chart(title, "nothing to show");
    std::size_t longest_label = 1;
    std::size_t longest_count = 1;
    std::uint64_t most = 0;
    for (const ChartBar& bar : bars) {
        longest_label = std::max(longest_label, label_length(bar.label));
        longest_count = std::max(longest_count, std::to_string(bar.value).size());
        most = std::max(most, bar.value);
    }
    const double row = 26;
    const double label_width = 12 + kCharacter * static_cast<double>(longest_label);
    const double count_width = 10 + kCharacter * static_cast<double>(longest_count);
    const double room = std::max(40.0, kWidth - label_width - count_width - 10);
    std::string out = open_svg(row * static_cast<double>(bars.size()) + 8, title);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const ChartBar& bar = bars[i];
        const double y = 4 + row * static_cast<double>(i);
        const double length =
            most == 0 ? 0 : room * static_cast<double>(bar.value) / static_cast<double>(most);
        // Every bar that counts something shows, however small.
        const double shown = bar.value > 0 ? std::max(length, 2.0) : 0;
        out += "<text class=\"label\" x=\"" + number(label_width - 8) + "\" y=\"" + number(y + 17) +
               "\" text-anchor=\"end\">" + short_label(bar.label) + "</text>";
        out += "<rect class=\"bar\" x=\"" + number(label_width) + "\" y=\"" + number(y + 3) +
               "\" width=\"" + number(shown) + "\" height=\"18\"/>";
        out += "<text class=\"count\" x=\"" + number(label_width + shown + 6) + "\" y=\"" +
               number(y + 17) + "\">" + std::to_string(bar.value) + "</text>";
    }
    out += "</svg>";
    return out;
}

std::string columns_svg(const std::vector<ChartBar>& bars, std::string_view title,
                        std::string_view axis_title) {
    if (bars.empty()) return empty_chart(title, "nothing to show");
    std::size_t longest_label = 1;
    std::size_t longest_count = 1;
    std::uint64_t most = 0;
    for (const ChartBar& bar : bars) {
        longest_label = std::max(longest_label, label_length(bar.label));
        longest_count = std::max(longest_count, std::to_string(bar.value).size());
        most = std::max(most, bar.value);
    }
    const std::uint64_t step = grid_step(std::max<std::uint64_t>(most, 1), 4);
    const std::uint64_t top = (std::max<std::uint64_t>(most, 1) + step - 1) / step * step;
    const double left = 16 + kCharacter * static_cast<double>(std::to_string(top).size());
    const double column = (kWidth - 10 - left) / static_cast<double>(bars.size());
    // Labels and counts turn upright where a column is narrower than they are.
    const bool upright_labels = kCharacter * static_cast<double>(longest_label) > column - 2;
    const bool upright_counts = kCharacter * static_cast<double>(longest_count) > column - 2;
    const double top_y =
        10 + (upright_counts ? kCharacter * static_cast<double>(longest_count) : 16);
    const double plot = 200;
    const double bottom_y = top_y + plot;
    const double label_room =
        upright_labels ? 10 + kCharacter * static_cast<double>(longest_label) : 20;
    const double height = bottom_y + label_room + 26;
    std::string out = open_svg(height, title);
    out += grid(left, top_y, bottom_y, top, step);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const ChartBar& bar = bars[i];
        const double x = left + column * static_cast<double>(i);
        const double middle = x + column / 2;
        const double length = plot * static_cast<double>(bar.value) / static_cast<double>(top);
        const double shown = bar.value > 0 ? std::max(length, 1.5) : 0;
        out += "<rect class=\"bar\" x=\"" + number(x + column * 0.1) + "\" y=\"" +
               number(bottom_y - shown) + "\" width=\"" + number(column * 0.8) + "\" height=\"" +
               number(shown) + "\"/>";
        const double count_y = bottom_y - shown - 4;
        // An empty band's 0 is said softly, so that the bands that hold
        // entries stand out.
        const std::string count_class = bar.value == 0 ? "count zero" : "count";
        if (upright_counts)
            out += "<text class=\"" + count_class + "\" transform=\"translate(" +
                   number(middle + 4) + " " + number(count_y) + ") rotate(-90)\">";
        else
            out += "<text class=\"" + count_class + "\" x=\"" + number(middle) + "\" y=\"" +
                   number(count_y) + "\" text-anchor=\"middle\">";
        out += std::to_string(bar.value) + "</text>";
        if (upright_labels)
            out += "<text class=\"axis\" transform=\"translate(" + number(middle + 4) + " " +
                   number(bottom_y + 6) + ") rotate(-90)\" text-anchor=\"end\">";
        else
            out += "<text class=\"axis\" x=\"" + number(middle) + "\" y=\"" +
                   number(bottom_y + 16) + "\" text-anchor=\"middle\">";
        out += short_label(bar.label) + "</text>";
    }
    out += "<line class=\"baseline\" x1=\"" + number(left) + "\" x2=\"" + number(kWidth - 10) +
           "\" y1=\"" + number(bottom_y) + "\" y2=\"" + number(bottom_y) + "\"/>";
    out += "<text class=\"axis\" x=\"" + number((left + kWidth - 10) / 2) + "\" y=\"" +
           number(height - 8) + "\" text-anchor=\"middle\">";
    append_text(out, axis_title);
    out += "</text></svg>";
    return out;
}

std::string line_svg(const std::vector<ChartPoint>& points, std::string_view title) {
    if (points.empty()) return empty_chart(title, "nothing to show");
    std::uint64_t most = 0;
    std::size_t longest_label = 1;
    for (const ChartPoint& point : points) {
        most = std::max(most, point.value);
        longest_label = std::max(longest_label, label_length(point.label));
    }
    const std::uint64_t step = grid_step(std::max<std::uint64_t>(most, 1), 4);
    // Room above the greatest value for its figure.
    const std::uint64_t top = (std::max<std::uint64_t>(most, 1) + step) / step * step;
    const double left = 16 + kCharacter * static_cast<double>(std::to_string(top).size());
    const double right = kWidth - 10 - kCharacter * static_cast<double>(longest_label) / 2;
    const double inner_left = left + kCharacter * static_cast<double>(longest_label) / 2;
    const double top_y = 16;
    const double bottom_y = 216;
    const auto extremes =
        std::minmax_element(points.begin(), points.end(),
                            [](const ChartPoint& a, const ChartPoint& b) { return a.x < b.x; });
    const auto earliest = extremes.first->x;
    const double span = static_cast<double>(extremes.second->x - earliest);
    const auto x_of = [&](const ChartPoint& point) {
        if (span <= 0) return (inner_left + right) / 2;
        return inner_left + (right - inner_left) * static_cast<double>(point.x - earliest) / span;
    };
    const auto y_of = [&](const ChartPoint& point) {
        return bottom_y -
               (bottom_y - top_y) * static_cast<double>(point.value) / static_cast<double>(top);
    };
    // Every point's label and value where they fit side by side, else every
    // n-th, the last always; each point tells both when pointed at.
    const double room =
        span <= 0 ? kWidth : (right - inner_left) / static_cast<double>(points.size());
    const auto every = [&](std::size_t characters) {
        return static_cast<std::size_t>(kCharacter * static_cast<double>(characters + 2) / room) +
               1;
    };
    const std::size_t every_label = every(longest_label);
    const std::size_t every_value = every(std::to_string(most).size());
    const auto shown = [&](std::size_t i, std::size_t step) {
        const std::size_t after = points.size() - 1 - i;
        return after == 0 || (i % step == 0 && after >= step);
    };
    std::string out = open_svg(bottom_y + 44, title);
    out += grid(left, top_y, bottom_y, top, step);
    out += "<polyline class=\"line\" points=\"";
    for (const ChartPoint& point : points)
        out += number(x_of(point)) + "," + number(y_of(point)) + " ";
    out += "\"/>";
    for (std::size_t i = 0; i < points.size(); ++i) {
        const ChartPoint& point = points[i];
        const double x = x_of(point);
        const double y = y_of(point);
        out += "<circle class=\"point\" cx=\"" + number(x) + "\" cy=\"" + number(y) +
               "\" r=\"4\"><title>";
        append_text(out, point.label);
        out += ": " + std::to_string(point.value) + "</title></circle>";
        if (shown(i, every_value))
            out += "<text class=\"count\" x=\"" + number(x) + "\" y=\"" + number(y - 9) +
                   "\" text-anchor=\"middle\">" + std::to_string(point.value) + "</text>";
        if (shown(i, every_label))
            out += "<text class=\"axis\" x=\"" + number(x) + "\" y=\"" + number(bottom_y + 18) +
                   "\" text-anchor=\"middle\">" + short_label(point.label) + "</text>";
    }
    out += "<line class=\"baseline\" x1=\"" + number(left) + "\" x2=\"" + number(kWidth - 10) +
           "\" y1=\"" + number(bottom_y) + "\" y2=\"" + number(bottom_y) + "\"/>";
    out += "</svg>";
    return out;
}

}  // namespace kestrafin::scan::report
