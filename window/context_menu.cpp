#include "window/context_menu.h"

namespace kestrafin::window {

std::vector<ListMenuItem> list_menu(const ListMenuContext& context) {
    std::vector<ListMenuItem> items = {
        {ListCommand::Copy, "Copy", "Ctrl+C", context.rows_selected},
        {ListCommand::CopyFolder, "Copy folder path", {}, context.on_a_row},
        {ListCommand::CopyAll, "Copy all paths", {}, context.has_rows}};
    if (context.line_breaks) {
        items.push_back({ListCommand::CopyAllQuoted, "Copy all paths, quoted", {}, true});
        if (context.clipboard_takes_nul)
            items.push_back({ListCommand::CopyAllNul, "Copy all paths, NUL-separated", {}, true});
    }
    items.push_back({ListCommand::OpenFolder, "Open containing folder", {}, context.on_a_row});
    items.push_back({ListCommand::ExportAll, "Export as CSV...", {}, context.has_rows});
    items.push_back(
        {ListCommand::ExportSelected, "Export selection as CSV...", {}, context.rows_selected});
    items.push_back(
        {ListCommand::FoldersNotRead, "Folders not read...", {}, context.folders_not_read});
    items.push_back({ListCommand::Find, "Find...", "Ctrl+F", context.has_rows});
    items.push_back({ListCommand::FindNext, "Find next", "F3", context.has_rows});
    return items;
}

bool holds_line_break(const EntryStore& store, std::size_t rows) {
    for (std::size_t row = 0; row < rows; ++row)
        if (store.text(row).find_first_of("\n\r") != std::string_view::npos) return true;
    return false;
}

}  // namespace kestrafin::window
