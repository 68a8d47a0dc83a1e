// The result list's context menu, the same in every face: its items in
// order, their captions and shortcuts, and when each can be chosen.
#pragma once

#include <array>
#include <string_view>

namespace kestrafin::window {

enum class ListCommand {
    Copy,            // the selected rows' paths
    CopyAll,         // every row's path
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

// The menu over a list that has rows selected or not, has rows at all or
// not, and was opened over a row (by the pointer, or from the keyboard with
// a current row) or not, after a search that left folders unread or not.
std::array<ListMenuItem, 8> list_menu(bool rows_selected, bool has_rows, bool on_a_row,
                                      bool folders_not_read);

}  // namespace kestrafin::window
