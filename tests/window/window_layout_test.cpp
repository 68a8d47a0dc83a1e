// The fixed layout on screens of any DPI and with any system font.
#include "window/window_layout.h"

#include <gtest/gtest.h>

using namespace kestrafin::window;

namespace {

constexpr FontBox kDesigned{6, 13};
constexpr PixelSize kClient{15270, 9840};  // 1018 by 656 pixels at 96 dpi
constexpr PixelSize kFrame{2, 30};

}  // namespace

TEST(WindowLayout, ScalesWithDpiAndFontTogetherAndFitsTheScreen) {
    const struct {
        double dpi;
        FontBox font;
        PixelSize available;
        double horizontal, vertical, font_scale;
    } rows[] = {
        {96, {6, 13}, {1920, 1040}, 1, 1, 1},
        {96, {5, 11}, {1920, 1040}, 1, 1, 1},                  // a smaller font never shrinks it
        {192, {12, 26}, {3840, 2100}, 2, 2, 1},                // DPI alone
        {96, {9, 19.5}, {1920, 1040}, 1.5, 1.5, 1},            // a larger font alone
        {96, {12, 13}, {1920, 1040}, 1.8841, 1, 0.9420},       // too wide: the font gives way
        {96, {11, 25}, {1920, 1040}, 1.4678, 1.5396, 0.8006},  // 16 pt on a 1080 screen
        {144, {9, 19.5}, {1366, 728}, 1.5, 1.5, 1},            // too small even for the DPI
        {96, {6, 13}, {800, 600}, 1, 1, 1},
    };
    for (const auto& row : rows) {
        const LayoutScale scale =
            layout_scale(row.dpi, row.font, kDesigned, kClient, kFrame, row.available);
        EXPECT_NEAR(scale.horizontal, row.horizontal, 1e-3) << row.dpi << " " << row.font.height;
        EXPECT_NEAR(scale.vertical, row.vertical, 1e-3);
        EXPECT_NEAR(scale.font, row.font_scale, 1e-3);
        if (scale.font < 1) {
            EXPECT_LE(scale.across(kClient.width) + kFrame.width, row.available.width);
            EXPECT_LE(scale.down(kClient.height) + kFrame.height, row.available.height);
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
