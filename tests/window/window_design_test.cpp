// The window's design as every face draws it: where its controls stand on
// screens of any scale, how fonts shrink to fit and what input a search lets
// through.
#include <gtest/gtest.h>

#include "window/input_policy.h"
#include "window/window_design.h"

using namespace kestrafin::window;

TEST(WindowDesign, EveryControlLiesInTheClientAreaAndApartFromTheOthersAtEveryScale) {
    for (const double scale : {0.7837, 1.0, 1.25, 1.5, 2.0}) {
        const LayoutScale layout{scale, scale, 1, 1};
        const auto pixels = [&layout](const design::Control* control) {
            const design::Twips& at = control->place;
            return layout.rect(at.left, at.top, at.width, at.height);
        };
        const int width = layout.across(design::kClientTwips.width);
        const int height = layout.down(design::kClientTwips.height);
        for (const design::Control* control : design::kControls) {
            const PixelRect a = pixels(control);
            EXPECT_TRUE(a.width > 0 && a.height > 0 && a.left >= 0 && a.top >= 0 &&
                        a.left + a.width <= width && a.top + a.height <= height)
                << scale;
            for (const design::Control* other : design::kControls) {
                if (other == control) continue;
                const PixelRect b = pixels(other);
                const bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left ||
                                   a.top + a.height <= b.top || b.top + b.height <= a.top;
                EXPECT_TRUE(apart)
                    << scale << ": " << a.left << "," << a.top << " and " << b.left << "," << b.top;
            }
        }
    }
}

TEST(WindowDesign, AFontShrinksByQuarterPointsUntilItsTextFitsOrItReachesFivePoints) {
    const struct {
        double points, scale, widest_fitting, fitted;
    } rows[] = {
        {18, 1, 100, 18},       // fits as designed
        {18, 1, 12.3, 12.25},   // the first quarter point that fits
        {18, 1, 0, 5},          // never fits: the smallest
        {9.75, 0.5, 4, 3.875},  // shrunk with the window, from 4.875
        {9.75, 0.5, 1, 2.375},  // the first step at or below 5 points shrunk alike
    };
    for (const auto& row : rows) {
        int tries = 0;
        const double fitted = design::fitted_points(row.points, row.scale, [&](double points) {
            ++tries;
            return points <= row.widest_fitting;
        });
        EXPECT_DOUBLE_EQ(fitted, row.fitted) << row.points << " " << row.widest_fitting;
        EXPECT_LE(tries, 60);
    }
}

TEST(InputPolicy, ASearchLetsThroughAClickOnStopAndWhatScrollsAndReadsTheList) {
    using enum InputKind;
    const InputTarget stop = InputTarget::SearchButton, list = InputTarget::List,
                      other = InputTarget::Other;
    const struct {
        const char* what;
        UserInput input;
        bool passes;
    } rows[] = {
        {"left press on Stop", {ButtonPress, stop, true}, true},
        {"left release on Stop", {ButtonRelease, stop, true}, true},
        {"right press on Stop", {ButtonPress, stop, false}, false},
        {"pointer over Stop", {PointerMove, stop}, true},
        {"wheel over Stop", {Wheel, stop}, false},
        {"left press in the list", {ButtonPress, list, true}, true},
        {"right press in the list", {ButtonPress, list, false}, false},
        {"wheel over the list", {Wheel, list}, true},
        {"left press elsewhere", {ButtonPress, other, true}, false},
        {"pointer elsewhere", {PointerMove, other}, false},
        {"End in the list", {KeyPress, list, false, InputKey::End}, true},
        {"Shift+Down in the list", {KeyPress, list, false, InputKey::Down}, true},
        {"Page Up released in the list", {KeyRelease, list, false, InputKey::PageUp}, true},
        {"Ctrl+End in the list", {KeyPress, list, false, InputKey::End, true}, false},
        {"a letter in the list", {KeyPress, list, false, InputKey::Other}, false},
        {"Down on Stop", {KeyPress, stop, false, InputKey::Down}, false},
        {"anything else", {Other, list}, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(passes_while_searching(row.input), row.passes) << row.what;
}
