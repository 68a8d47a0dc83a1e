#include "window/window_layout.h"

#include <algorithm>
#include <cmath>

namespace kestrafin::window {

namespace {

constexpr double kTwipsPerPixelAt96 = 15;

}  // namespace

int LayoutScale::across(int twips) const {
    return static_cast<int>(std::lround(twips / kTwipsPerPixelAt96 * horizontal));
}

int LayoutScale::down(int twips) const {
    return static_cast<int>(std::lround(twips / kTwipsPerPixelAt96 * vertical));
}

PixelRect LayoutScale::rect(int left, int top, int width, int height) const {
    return {across(left), down(top), across(left + width) - across(left),
            down(top + height) - down(top)};
}

LayoutScale layout_scale(double pixels_per_inch, FontBox system_font, FontBox designed_font,
                         PixelSize client_twips, PixelSize frame, PixelSize available) {
    const double dpi = pixels_per_inch > 0 ? pixels_per_inch / 96 : 1;
    // A font that measures nothing tells nothing: the DPI alone decides.
    const auto grown = [dpi](double measured, double designed) {
        if (measured <= 0 || designed <= 0) return dpi;
        return std::max(dpi, measured / designed);
    };
    LayoutScale scale{grown(system_font.average_width, designed_font.average_width),
                      grown(system_font.height, designed_font.height), 1};
    const double wide = client_twips.width / kTwipsPerPixelAt96 * scale.horizontal + frame.width;
    const double high = client_twips.height / kTwipsPerPixelAt96 * scale.vertical + frame.height;
    double fit = 1;
    if (available.width > 0 && wide > available.width)
        fit = std::min(fit, (available.width - frame.width) / (wide - frame.width));
    if (available.height > 0 && high > available.height)
        fit = std::min(fit, (available.height - frame.height) / (high - frame.height));
    // The whole layout gives way alike, so that every caption keeps its room;
    // a screen with no room at all leaves it as it is.
    if (fit < 1 && fit > 0) {
        scale.horizontal *= fit;
        scale.vertical *= fit;
        scale.font = fit;
        scale.fixed = std::min(1.0, std::min(scale.horizontal, scale.vertical) / dpi);
    }
    return scale;
}

PixelRect placed_window(PixelSize outer, PixelRect available) {
    const auto place = [](int size, int start, int room) {
        const int centred = start + (room - size) / 2;
        return std::max(start, std::min(centred, start + room - size));
    };
    return {place(outer.width, available.left, available.width),
            place(outer.height, available.top, available.height), outer.width, outer.height};
}

}  // namespace kestrafin::window
