// The window's fixed layout on a real screen. Positions and sizes are given
// in twips for a window drawn at 96 dots per inch in the font it was designed
// for. As dialog units do, they grow with the screen's DPI and with the
// system font together, horizontally with the font's average character width
// and vertically with its height, so that captions in a larger font still fit
// their controls. When the screen's available area cannot hold the window so
// grown, the whole layout shrinks alike until it fits: positions, sizes, the
// default font, and, once below what the DPI asks for, the fonts and pictures
// of fixed size too. The window is then placed wholly on the available area.
#pragma once

namespace kestrafin::window {

// Measures of a font in the face's pixels.
struct FontBox {
    double average_width = 0;
    double height = 0;
};

struct PixelSize {
    int width = 0;
    int height = 0;
};

struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct LayoutScale {
    double horizontal = 1;  // face pixels per twip, times 15
    double vertical = 1;
    // What the face scales its default font by so that it fits the layout;
    // 1 unless the screen is too small for the layout the font asks for.
    double font = 1;
    // What the face scales the fonts and pictures of fixed size (at the
    // screen's DPI) by; 1 unless the screen is too small even for the DPI.
    double fixed = 1;

    // `twips` as face pixels, across and down.
    int across(int twips) const;
    int down(int twips) const;
    // A control's place in twips as face pixels, rounded at both edges, so
    // that neighbours scaled alike stay apart.
    PixelRect rect(int left, int top, int width, int height) const;
};

// The scale for a face whose pixels are `pixels_per_inch` to the inch (96
// where the toolkit scales for DPI itself), whose default font measures
// `system_font`, for a layout designed for a font measuring `designed_font` at
// 96 dots per inch; `client_twips` plus the frame (`frame` pixels wide and
// high) should fit `available`. Never smaller than the DPI alone asks for.
LayoutScale layout_scale(double pixels_per_inch, FontBox system_font, FontBox designed_font,
                         PixelSize client_twips, PixelSize frame, PixelSize available);

// Where the top-left corner of a window whose outer size is `outer` goes:
// centred on `available`, then moved so that it lies wholly on it; a window
// larger than the area (which layout_scale avoids) keeps its title bar and
// left edge on it.
PixelRect placed_window(PixelSize outer, PixelRect available);

}  // namespace kestrafin::window
