// The result list's context menu, the same in every face: its items in
// order, their captions and shortcuts, and when each can be chosen.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "window/entry_store.h"

namespace kestrafin::window {

enum class ListCommand {
    Copy,            // the selected rows' paths
    CopyFolder,      // the folder path of the row under the pointer
    CopyAll,         // every row's path, one a line
    CopyAllQuoted,   // every row's path in double quotes, one a line
    CopyAllNul,      // every row's path, each ended by a NUL
    OpenFolder,      // shows the file of the row under the pointer in its folder
    ExportAll,       // every row to a CSV file the user picks
    ExportSelected,  // the selected rows to one
    FoldersNotRead,  // lists the folders the last search could not read
    Find,            // asks for a text and shows the next row whose path holds it
    FindNext,        // the next row holding the text last asked for
};

struct ListMenuItem {
    ListCommand command;
    std::string_view caption;
    // The key that does the same, as the menu shows it; empty: none.
    std::string_view shortcut;
    bool enabled;
};

// What the menu is opened over: rows selected or not, rows at all or not,
// over a row (by the pointer, or from the keyboard with a current row) or
// not; whether a name of the rows holds a line break, which one path a line
// cannot tell from two; and whether the host's clipboard keeps NULs in text
// (the Windows clipboard ends its text at the first); and whether the last
// search left folders it could not read or did not enter.
struct ListMenuContext {
    bool rows_selected = false;
    bool has_rows = false;
    bool on_a_row = false;
    bool line_breaks = false;
    bool clipboard_takes_nul = false;
    bool folders_not_read = false;
};

// The menu: Copy, Copy folder path, Copy all paths and, where a name holds a
// line break, its quoted and NUL-separated forms, Open containing folder, the
// exports, Folders not read, Find and Find next.
std::vector<ListMenuItem> list_menu(const ListMenuContext& context);

// Whether any of the first `rows` texts of `store` holds a line break (LF or CR).
bool holds_line_break(const EntryStore& store, std::size_t rows);

}  // namespace kestrafin::window
