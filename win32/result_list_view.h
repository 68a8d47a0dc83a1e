// The result list `lvFiles` on Windows: a report-mode list view with one
// column in virtual mode, whose rows are read in place from the window
// logic's entry store when they are drawn; nothing is copied per row.
//
// A list view draws at most 259 characters of an item, so the rows are drawn
// here (shown_row_text()), whole where they fit the widest column a list view
// takes (32767 pixels); the column is as wide as the widest row, the list
// scrolls sideways, and a tool tip shows the path under the pointer, in lines.
// Folder names in right-to-left scripts keep their path order.
// Rows are tall enough for the descents of every script's glyphs, and the
// focus mark lies on their edge lines, clear of the text.
//
// Rows are selected as in any list (Shift and Ctrl with a click or the
// arrows, Ctrl+A); Left and Right scroll the list sideways; Ctrl+C and the
// context menu hand the rows to the window.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <array>
#include <climits>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "window/copied_text.h"
#include "window/list_items.h"
#include "window/shown_row.h"

namespace kestrafin::win32 {

// What the list's keys and context menu ask of the window.
struct ListCommands {
    std::function<void(const std::vector<std::size_t>& rows)> copy;
    std::function<void(window::PathFormat format)> copy_all;
    std::function<void(std::size_t row)> copy_folder;
    std::function<void(std::size_t row)> open_folder;
    std::function<void()> export_all;
    std::function<void(const std::vector<std::size_t>& rows)> export_selected;
    std::function<void()> folders_not_read;
    std::function<bool()> has_folders_not_read;
    std::function<void()> find;
    std::function<void()> find_next;
};

class ResultListView {
  public:
    // Makes the list view as a child of `parent`; `items` must outlive it.
    void create(HWND parent, int id, const window::ListItems& items, ListCommands commands);
    HWND handle() const { return list_; }

    // The selected rows, in list order.
    std::vector<std::size_t> selected_rows() const;
    // The row with the focus mark, if any.
    std::optional<std::size_t> current_row() const;
    // Selects `row` alone, gives it the focus mark, scrolls it into view and
    // puts the keyboard focus on the list.
    void show_row(std::size_t row);
    // The text a row shows (shown_row_text(), with fewer units where it is
    // wider than a column can be), and the lines its tool tip shows.
    std::wstring shown_text(std::size_t row) const;
    std::wstring tip_text(std::size_t row) const;
    // Opens the context menu at `where` (screen coordinates) and carries out
    // the item chosen.
    void show_menu(POINT where);

    // Sets the font of rows and header; widths are measured anew.
    void set_font(HFONT font);
    // Every row may have changed; `rows` are shown.
    void reset(std::size_t rows);
    // Rows were appended; the first ones are unchanged.
    void grow(std::size_t rows);
    std::size_t rows() const { return rows_; }
    // The column's width in pixels: the widest row's text, or the list's width.
    int column_width() const;

    // Handles the list view's notifications (sent to the parent).
    LRESULT on_notify(NMHDR& header);

  private:
    static LRESULT CALLBACK subclass_procedure(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam, UINT_PTR id, DWORD_PTR self);
    void measure(std::size_t from, std::size_t to);
    void fit_column();
    LRESULT draw(NMLVCUSTOMDRAW& draw);
    void draw_row(HDC context, std::size_t row, const RECT& bounds);
    // The row under the pointer, or -1.
    int row_at_pointer() const;
    // shown_text() measured in `context`, which holds the list's font.
    std::wstring shown_text(HDC context, std::size_t row) const;
    // The width of `row`'s text in pixels.
    int row_width(HDC context, std::size_t row) const;
    // Left and Right scroll sideways; true when `key` was one of them.
    bool scroll_key(WPARAM key);
    // Ctrl+A and Ctrl+C; true when `key` was one of them.
    bool command_key(WPARAM key);

    HWND list_ = nullptr;
    HWND tooltip_ = nullptr;
    const window::ListItems* items_ = nullptr;
    ListCommands commands_;
    HFONT font_ = nullptr;
    std::size_t rows_ = 0;
    int widest_ = 0;            // widest text measured, in pixels
    int widest_character_ = 1;  // the font's widest character, to skip short rows
    int room_ = INT_MAX;        // the widest text a column holds, in pixels
    // The advance of each ASCII character in the font: an ASCII row, the
    // common case, is measured by adding them up, as the system does.
    std::array<int, 128> ascii_widths_{};
    int tip_row_ = -1;
    std::wstring tip_;      // the text the tool tip shows
    std::wstring display_;  // the text handed to the list view on request
};

}  // namespace kestrafin::win32
