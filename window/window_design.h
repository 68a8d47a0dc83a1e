// The window's design, drawn alike by every face: the client area, each
// control's place in twips (laid out for a screen by window_layout.h), its
// caption, font, colours, tool tip and the names that assistive technology
// reads. A face maps these onto its toolkit and keeps no design of its own.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "window/window_layout.h"

namespace kestrafin::window::design {

struct Rgb {
    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 0;
    constexpr bool operator==(const Rgb&) const = default;
};

// A place from the client area's top-left corner.
struct Twips {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

struct Font {
    // Empty: the system's own dialog font, at the size the system gives it.
    std::string_view family{};
    double points = 0;  // the size at 96 dots per inch
    bool bold = false;
    // Draws text of every script (paths); otherwise Western text only.
    bool any_script = false;
};

struct Control {
    Twips place{};
    // What it shows first; empty where the logic or the face fills it.
    std::string_view caption{};
    Font font{};
    std::optional<Rgb> text_colour{};
    // The font shrinks until fitted_text() stands on one line of the control's width.
    bool shrinks_to_fit = false;
    std::string_view tip{};
    // For assistive technology; empty where the control's own text says it.
    std::string_view accessible_name{};
    std::string_view accessible_description{};
};

inline constexpr std::string_view kWindowTitle = "Kestrafin v1.0";
inline constexpr PixelSize kClientTwips{15270, 9840};
// The size of the system font that the layout was drawn for; a face whose
// layout grows with the system font measures it against this one.
inline constexpr double kDesignedSystemPoints = 9;
// The logo's side at 96 dots per inch: the picture's own size.
inline constexpr int kLogoPixels = 170;

inline constexpr Rgb kWindowColour{128, 255, 255};
inline constexpr Rgb kTitleRed{192, 0, 0};
inline constexpr Rgb kCountRed{255, 0, 0};
inline constexpr Rgb kCreditRed{128, 0, 0};
inline constexpr Rgb kStatusBlue{0, 0, 128};
// The root box is always disabled: its text keeps one colour.
inline constexpr Rgb kRootBoxBackground{0, 0, 0};
inline constexpr Rgb kRootBoxText{255, 255, 255};

// "MS Sans Serif" is a bitmap face with a few sizes only; its TrueType twin
// draws the same letters at every DPI.
inline constexpr std::string_view kSansSerif = "Microsoft Sans Serif";
inline constexpr Font kSystemFont{};
inline constexpr Font kBold{.family = kSansSerif, .points = 8.25, .bold = true};
inline constexpr Font kCredit{.family = "Times New Roman", .points = 8.25, .bold = true};

inline constexpr std::string_view kColumnHeading = "FILE PATHS AND NAMES";
// The width of the "Change" prompt's text box and its caption, in dialog
// units (a quarter of the dialog font's average character width): wide
// enough that a share's path stays in sight while it is typed.
inline constexpr int kPromptBoxDialogUnits = 246;
inline constexpr std::string_view kHomePageText = "Opens the maker's home page";

// The controls, by the names of the window's design.
inline constexpr Control Label1{.place = {5400, 120, 4590, 435},
                                .caption = "KESTRAFIN",
                                .font = {.family = kSansSerif, .points = 18, .bold = true},
                                .text_colour = kTitleRed,
                                .shrinks_to_fit = true};
inline constexpr Control lvFiles{
    .place = {120, 720, 15045, 6405},
    .font = {.family = kSansSerif, .points = 8.25, .bold = true, .any_script = true},
    .accessible_name = "Found files"};
inline constexpr Control lblprocessrootdir{.place = {240, 7200, 2040, 195},
                                           .caption = "Process Root Directory:",
                                           .font = kBold,
                                           .text_colour = kTitleRed,
                                           .shrinks_to_fit = true};
inline constexpr Control txtFileroot{
    .place = {2400, 7200, 2295, 285},
    .text_colour = kRootBoxText,
    .accessible_name = "Root folder",
    .accessible_description = "The folder that Search walks; Change sets it"};
inline constexpr Control lbllistcount{.place = {6960, 7200, 2175, 255},
                                      .font = {.family = kSansSerif, .points = 9.75},
                                      .text_colour = kCountRed,
                                      .shrinks_to_fit = true,
                                      .accessible_name = "Record count",
                                      .accessible_description = "How many files the list holds"};
inline constexpr Control Image1{.place = {12600, 7200, 2550, 2550},
                                .accessible_name = "Kestrafin logo",
                                .accessible_description = kHomePageText};
inline constexpr Control cmdseldir{.place = {2400, 7560, 1095, 255}, .caption = "Change"};
inline constexpr Control cmdsave{.place = {3600, 7560, 1095, 255}, .caption = "Save path"};
inline constexpr Control cmdsavelist{.place = {6600, 7560, 1095, 255}, .caption = "Save List"};
inline constexpr Control cmdloadlist{.place = {7920, 7560, 1095, 255}, .caption = "Reload List"};
inline constexpr Control cmdgetfilelist{
    .place = {6720, 8160, 2175, 615},
    .caption = "Search",
    .font = {.family = kSansSerif, .points = 12, .bold = true},
    .accessible_description =
        "Lists the files in folders with long paths; reads Stop while it runs"};
// In the window's free space under the root box.
inline constexpr Control lblstatus{.place = {240, 8160, 6360, 255},
                                   .text_colour = kStatusBlue,
                                   .accessible_name = "Search status",
                                   .accessible_description = "How the last search or reload ended"};
inline constexpr Control Label2{.place = {6360, 9120, 2775, 195},
                                .caption = "Coded & Designed By The Kestrafin Team",
                                .font = kCredit,
                                .text_colour = kCreditRed,
                                .shrinks_to_fit = true};
inline constexpr Control lblorvane{.place = {7080, 9480, 1455, 195},
                                   .caption = "kestrafin.example",
                                   .font = kCredit,
                                   .text_colour = kCreditRed,
                                   .shrinks_to_fit = true,
                                   .tip = "Click here to visit",
                                   .accessible_name = "Home page link",
                                   .accessible_description = kHomePageText};

// Every control above, in the order Tab visits those that take the focus
// (Search, the list, Save path, Change, Save List, Reload List), then the rest.
inline constexpr const Control* kControls[] = {
    &cmdgetfilelist, &lvFiles,           &cmdsave,     &cmdseldir,    &cmdsavelist, &cmdloadlist,
    &Label1,         &lblprocessrootdir, &txtFileroot, &lbllistcount, &Image1,      &lblstatus,
    &Label2,         &lblorvane};

// The text whose width the font of a control that shrinks_to_fit must hold:
// its caption, or for the count label its caption at the largest count the
// list can hold.
std::string fitted_text(const Control& control);

// The size in points, from `points` down by quarter points, at which `fits`
// first holds, or the first at or below 5 points where it never does (both
// sizes times `scale`, the layout's scale of fixed fonts).
double fitted_points(double points, double scale, const std::function<bool(double)>& fits);

// What assistive technology reads for the list holding `rows` rows.
std::string list_description(std::size_t rows);

// The status line's tool tip: the whole line, and below it what the logic
// adds (empty: nothing).
std::string status_tip(std::string_view line, std::string_view added);

}  // namespace kestrafin::window::design
