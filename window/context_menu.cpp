#include "window/context_menu.h"

namespace kestrafin::window {

std::array<ListMenuItem, 8> list_menu(bool rows_selected, bool has_rows, bool on_a_row,
                                      bool folders_not_read) {
    return {{{ListCommand::Copy, "Copy", "Ctrl+C", rows_selected},
             {ListCommand::CopyAll, "Copy all paths", {}, has_rows},
             {ListCommand::OpenFolder, "Open containing folder", {}, on_a_row},
             {ListCommand::ExportAll, "Export as CSV...", {}, has_rows},
             {ListCommand::ExportSelected, "Export selection as CSV...", {}, rows_selected},
             {ListCommand::FoldersNotRead, "Folders not read...", {}, folders_not_read},
             {ListCommand::Find, "Find...", "Ctrl+F", has_rows},
             {ListCommand::FindNext, "Find next", "F3", has_rows}}};
}

}  // namespace kestrafin::window
