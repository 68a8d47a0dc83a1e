// The fixed layout on screens of any DPI and with any system font.
#include "window/window_layout.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kestrafin::window;

namespace {

constexpr FontBox kDesigned{6, 13};
constexpr PixelSize kClient{15270, 9840};  // 1018 by 656 pixels at 96 dpi
constexpr PixelSize kFrame{2, 30};

}  // namespace

TEST(WindowLayout, ScalesWithDpiAndFontTogetherAndShrinksAsAWholeToFitTheScreen) {
    const struct {
        double dpi;
        FontBox font;
        PixelSize available;
        double horizontal, vertical, font_scale, fixed;
    } rows[] = {
        {96, {6, 13}, {1920, 1040}, 1, 1, 1, 1},
        {96, {5, 11}, {1920, 1040}, 1, 1, 1, 1},        // a smaller font never shrinks it
        {192, {12, 26}, {3840, 2100}, 2, 2, 1, 1},      // DPI alone
        {96, {9, 19.5}, {1920, 1040}, 1.5, 1.5, 1, 1},  // a larger font alone
        {96, {12, 13}, {1920, 1040}, 1.8841, 0.9420, 0.9420, 0.9420},   // too wide
        {96, {11, 25}, {1920, 1040}, 1.4678, 1.5396, 0.8006, 1},        // 16 pt on a 1080 screen
        {144, {9, 19.5}, {1366, 728}, 1.0640, 1.0640, 0.7093, 0.7093},  // too small for the DPI
        {96, {6, 13}, {800, 600}, 0.7837, 0.7837, 0.7837, 0.7837},
    };
    for (const auto& row : rows) {
        const LayoutScale scale =
            layout_scale(row.dpi, row.font, kDesigned, kClient, kFrame, row.available);
        EXPECT_NEAR(scale.horizontal, row.horizontal, 1e-3) << row.dpi << " " << row.font.height;
        EXPECT_NEAR(scale.vertical, row.vertical, 1e-3);
        EXPECT_NEAR(scale.font, row.font_scale, 1e-3);
        EXPECT_NEAR(scale.fixed, row.fixed, 1e-3);
    }
}

TEST(WindowLayout, TheWholeWindowFitsCommonScreensAtEveryScaleAndNoCaptionLosesRoom) {
    // Screens as the faces see them: a Windows window in the screen's own
    // pixels, with a frame and task bar that grow with the DPI; a Qt window
    // in pixels of 96 to the inch, the DPI's scale taken out of the screen.
    const struct {
        const char* screen;
        double dpi;
        FontBox font;
        PixelSize frame;
        PixelSize available;
    } rows[] = {
        {"1366x768 at 125 %", 120, {}, {8, 36}, {1366, 718}},
        {"1366x768 at 150 %", 144, {}, {9, 44}, {1366, 708}},
        {"1600x1200 at 200 %", 192, {}, {12, 58}, {1600, 1120}},
        {"800x600 at 100 %", 96, {}, {6, 29}, {800, 560}},
        {"1366x768 at 150 %, Qt", 96, kDesigned, {6, 29}, {910, 485}},
        {"1600x1200 at 200 %, Qt", 96, kDesigned, {6, 29}, {800, 580}},
        {"1366x768 with 16 pt, Qt", 96, {11, 25}, {6, 29}, {1366, 728}},
    };
    for (const auto& row : rows) {
        const LayoutScale scale =
            layout_scale(row.dpi, row.font, kDesigned, kClient, row.frame, row.available);
        const PixelSize outer{scale.across(kClient.width) + row.frame.width,
                              scale.down(kClient.height) + row.frame.height};
        const PixelRect placed =
            placed_window(outer, {0, 0, row.available.width, row.available.height});
        EXPECT_GE(placed.left, 0) << row.screen;
        EXPECT_GE(placed.top, 0) << row.screen;
        EXPECT_LE(placed.left + outer.width, row.available.width) << row.screen;
        EXPECT_LE(placed.top + outer.height, row.available.height) << row.screen;
        // Shrunk no more than it had to.
        EXPECT_TRUE(outer.width >= row.available.width - 2 ||
                    outer.height >= row.available.height - 2)
            << row.screen;
        // Fonts of fixed size and the system font shrink with the room they get.
        const double dpi = row.dpi / 96;
        EXPECT_LE(scale.fixed * dpi, std::min(scale.horizontal, scale.vertical) + 1e-9)
            << row.screen;
        if (row.font.height > 0) {
            EXPECT_LE(scale.font * row.font.height / kDesigned.height, scale.vertical + 1e-9);
            EXPECT_LE(scale.font * row.font.average_width / kDesigned.average_width,
                      scale.horizontal + 1e-9);
        }
    }
}

TEST(WindowLayout, TheWindowLiesWhollyOnTheAvailableArea) {
    const struct {
        PixelSize outer;
        PixelRect available, placed;
    } rows[] = {
        {{1020, 686}, {0, 0, 1920, 1040}, {450, 177, 1020, 686}},
        {{1530, 1029}, {0, 24, 1366, 744}, {0, 24, 1530, 1029}},
        {{2040, 1372}, {1600, -200, 1600, 1200}, {1600, -200, 2040, 1372}},
        {{300, 200}, {-1280, 0, 1280, 1024}, {-790, 412, 300, 200}},
    };
    for (const auto& row : rows) {
        const PixelRect placed = placed_window(row.outer, row.available);
        EXPECT_EQ(placed.left, row.placed.left);
        EXPECT_EQ(placed.top, row.placed.top);
    }
}
