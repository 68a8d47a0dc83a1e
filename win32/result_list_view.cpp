#include "win32/result_list_view.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>

#include "platform/path_rules.h"
#include "platform/text.h"
#include "win32/gdi_owner.h"
#include "window/context_menu.h"
#include "window/shown_row.h"
#include "window/tip_lines.h"
#include "window/window_design.h"

namespace kestrafin::win32 {

namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr UINT_PTR kRowTipId = 1;
// LVM_SETCOLUMNWIDTH takes the width in the low word of its lParam
// (MAKELPARAM), so no column is wider than this.
constexpr int kWidestColumn = 32767;

// Space left and right of a row's text, as a part of the font's height.
int text_margin(HDC context) {
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(context, &metrics);
    return std::max<int>(2, metrics.tmHeight / 3);
}

std::wstring wide(std::string_view utf8) {
    const std::u16string units = platform::utf16_from_utf8(utf8);
    return {units.begin(), units.end()};
}

// The height of a row in pixels: the font's line, room above and below it
// for the glyphs another font lends to scripts this one lacks (their
// underscores and descents lie lower), and a line at each edge for the
// focus mark, which then never covers text.
int row_height(HDC context) {
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(context, &metrics);
    const int line = metrics.tmHeight + metrics.tmExternalLeading;
    return line + 2 * std::max<int>(2, (metrics.tmDescent + 1) / 2) + 2;
}

int text_width(HDC context, const std::wstring& text) {
    SIZE size{};
    ::GetTextExtentPoint32W(context, text.data(), static_cast<int>(text.size()), &size);
    return size.cx;
}

}  // namespace

void ResultListView::create(HWND parent, int id, const window::ListItems& items,
                            ListCommands commands) {
    items_ = &items;
    commands_ = std::move(commands);
    const auto instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE));
    list_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL |
                                  LVS_REPORT | LVS_OWNERDATA | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                              0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              instance, nullptr);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    std::wstring heading = wide(window::design::kColumnHeading);
    column.pszText = heading.data();
    column.cx = 100;
    ListView_InsertColumn(list_, 0, &column);
    ::SetWindowSubclass(list_, subclass_procedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));

    // The list view's own tips stop at its item text limit; this one shows
    // the whole path under the pointer.
    tooltip_ =
        ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, instance, nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = list_;
    tool.uId = kRowTipId;
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void ResultListView::set_font(HFONT font) {
    font_ = font;
    ::SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    {
        const MeasuringContext context(list_, font_);
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(context.get(), &metrics);
        widest_character_ = std::max<int>(1, metrics.tmMaxCharWidth);
        room_ = kWidestColumn - 2 * text_margin(context.get());
        if (!::GetCharWidth32W(context.get(), 0, 127, ascii_widths_.data()))
            ascii_widths_.fill(0);  // every row is measured whole
        // A list view's rows are as tall as its font or its small images,
        // whichever is taller: an image list of blank images sets the height.
        const HIMAGELIST spacer = ::ImageList_Create(1, row_height(context.get()), ILC_COLOR, 1, 0);
        if (spacer != nullptr) {
            const HIMAGELIST previous = ListView_SetImageList(list_, spacer, LVSIL_SMALL);
            if (previous != nullptr) ::ImageList_Destroy(previous);
        }
    }
    // A long path wraps in its tip rather than running off the screen.
    ::SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 60 * widest_character_);
    widest_ = 0;
    measure(0, rows_);
    fit_column();
}

void ResultListView::reset(std::size_t rows) {
    rows_ = rows;
    widest_ = 0;
    tip_row_ = -1;
    ::SendMessageW(tooltip_, TTM_POP, 0, 0);
    ListView_SetItemCountEx(list_, static_cast<int>(std::min<std::size_t>(rows, INT_MAX)), 0);
    measure(0, rows);
    fit_column();
    ::InvalidateRect(list_, nullptr, TRUE);
}

void ResultListView::grow(std::size_t rows) {
    const std::size_t before = rows_;
    rows_ = rows;
    ListView_SetItemCountEx(list_, static_cast<int>(std::min<std::size_t>(rows, INT_MAX)),
                            LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    measure(before, rows);
    fit_column();
}

int ResultListView::column_width() const {
    return ListView_GetColumnWidth(list_, 0);
}

void ResultListView::measure(std::size_t from, std::size_t to) {
    if (from >= to || font_ == nullptr) return;
    const MeasuringContext context(list_, font_);
    for (std::size_t row = from; row < to; ++row) {
        // No row shows wider than a column holds.
        if (widest_ >= room_) return;
        // A row of n bytes holds at most n UTF-16 units: one no wider than
        // the widest row yet is not measured.
        const std::string_view text = items_->store().text(row);
        const auto units = std::min<std::size_t>(text.size(), window::kLongestShownRow + 1);
        const auto most = static_cast<long long>(units) * widest_character_;
        if (most <= widest_) continue;
        // A row too long to show whole is shortened to what a column holds:
        // the column is made that wide rather than the row measured, which
        // takes the window's thread long enough, row after row of a deep
        // tree, for the walk's finds to pile up waiting for it.
        if (window::shown_parts(text).cut) {
            widest_ = room_;
            return;
        }
        widest_ = std::max(widest_, row_width(context.get(), row));
    }
}

void ResultListView::fit_column() {
    if (font_ == nullptr) return;
    int wanted = 0;
    {
        const MeasuringContext context(list_, font_);
        const int margin = 2 * text_margin(context.get());
        wanted =
            std::max(widest_, text_width(context.get(), wide(window::design::kColumnHeading))) +
            margin;
    }
    RECT client{};
    ::GetClientRect(list_, &client);
    wanted = std::min(std::max<int>(wanted, client.right - client.left), kWidestColumn);
    if (wanted != column_width()) ListView_SetColumnWidth(list_, 0, wanted);
}

int ResultListView::row_width(HDC context, std::size_t row) const {
    const std::string_view text = items_->store().text(row);
    if (window::shown_parts(text).cut) return text_width(context, shown_text(context, row));
    int width = 0;
    for (const char byte : text) {
        const auto code = static_cast<unsigned char>(byte);
        // Beyond ASCII, or a control character shown by its code point.
        if (code >= 0x80 || code < 0x20 || code == 0x7F || ascii_widths_[code] == 0)
            return text_width(context, shown_text(context, row));
        width += ascii_widths_[code];
    }
    return width;
}

std::wstring ResultListView::shown_text(std::size_t row) const {
    const MeasuringContext context(list_, font_);
    return shown_text(context.get(), row);
}

std::wstring ResultListView::shown_text(HDC context, std::size_t row) const {
    const std::string_view text = items_->store().text(row);
    std::size_t units = window::kLongestShownRow;
    std::wstring shown = wide(window::shown_row_text(text, platform::kPathSeparator, units));
    // Too wide for any column: fewer units, in proportion, until it fits.
    for (int width = text_width(context, shown); width > room_ && units > 64;
         width = text_width(context, shown)) {
        units = std::max<std::size_t>(
            64, static_cast<std::size_t>(static_cast<double>(units) * room_ / width * 0.95));
        shown = wide(window::shown_row_text(text, platform::kPathSeparator, units));
    }
    return shown;
}

std::wstring ResultListView::tip_text(std::size_t row) const {
    const std::u16string tip =
        window::row_tip(items_->store().text(row), platform::kPathSeparator, u"\r\n");
    return {tip.begin(), tip.end()};
}

std::vector<std::size_t> ResultListView::selected_rows() const {
    std::vector<std::size_t> rows;
    const auto count = static_cast<std::size_t>(ListView_GetSelectedCount(list_));
    rows.reserve(count);
    if (count == rows_) {
        for (std::size_t row = 0; row < rows_; ++row) rows.push_back(row);
        return rows;
    }
    for (int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(list_, row, LVNI_SELECTED))
        rows.push_back(static_cast<std::size_t>(row));
    return rows;
}

std::optional<std::size_t> ResultListView::current_row() const {
    const int row = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
    if (row < 0) return std::nullopt;
    return static_cast<std::size_t>(row);
}

void ResultListView::show_row(std::size_t row) {
    const int index = static_cast<int>(row);
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(list_, index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetSelectionMark(list_, index);
    ListView_EnsureVisible(list_, index, FALSE);
    ::SetFocus(list_);
}

bool ResultListView::scroll_key(WPARAM key) {
    if (key != VK_LEFT && key != VK_RIGHT) return false;
    if (::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0) return false;
    // With one column Left and Right have no row to move to: they scroll by
    // half the visible width, as the other face does, so the end of a long
    // path can be read with the keyboard alone.
    RECT client{};
    ::GetClientRect(list_, &client);
    const int step = std::max<int>(1, (client.right - client.left) / 2);
    ListView_Scroll(list_, key == VK_RIGHT ? step : -step, 0);
    return true;
}

bool ResultListView::command_key(WPARAM key) {
    if (::GetKeyState(VK_CONTROL) >= 0 || ::GetKeyState(VK_MENU) < 0) return false;
    if (key == 'A') {
        ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED);
        return true;
    }
    if (key == 'C' || key == VK_INSERT) {
        const std::vector<std::size_t> rows = selected_rows();
        if (!rows.empty() && commands_.copy) commands_.copy(rows);
        return true;
    }
    return false;
}

void ResultListView::show_menu(POINT where) {
    int row = -1;
    if (where.x == -1 && where.y == -1) {
        // From the keyboard: at the current row, or the list's corner.
        row = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
        RECT bounds{};
        if (row < 0 || !ListView_GetItemRect(list_, row, &bounds, LVIR_BOUNDS))
            ::GetClientRect(list_, &bounds);
        where = {bounds.left + 8, bounds.bottom};
        ::ClientToScreen(list_, &where);
    } else {
        LVHITTESTINFO hit{};
        hit.pt = where;
        ::ScreenToClient(list_, &hit.pt);
        row = ListView_HitTest(list_, &hit);
        if ((hit.flags & LVHT_ONITEM) == 0) row = -1;
    }
    const HMENU menu = ::CreatePopupMenu();
    if (menu == nullptr) return;
    window::ListMenuContext context;
    context.rows_selected = ListView_GetSelectedCount(list_) > 0;
    context.has_rows = rows_ > 0;
    context.on_a_row = row >= 0;
    context.line_breaks = window::holds_line_break(items_->store(), rows_);
    // CF_UNICODETEXT ends at its first NUL: no NUL-separated copy here.
    context.clipboard_takes_nul = false;
    context.folders_not_read = commands_.has_folders_not_read && commands_.has_folders_not_read();
    const auto items = window::list_menu(context);
    // Item IDs start at 1: TrackPopupMenu returns 0 when nothing was chosen.
    for (std::size_t at = 0; at < items.size(); ++at) {
        std::wstring caption = wide(items[at].caption);
        if (!items[at].shortcut.empty()) caption += L"\t" + wide(items[at].shortcut);
        ::AppendMenuW(menu, MF_STRING | (items[at].enabled ? MF_ENABLED : MF_GRAYED), at + 1,
                      caption.c_str());
    }
    const auto chosen = static_cast<UINT>(::TrackPopupMenu(
        menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, where.x, where.y, 0, list_, nullptr));
    ::DestroyMenu(menu);
    if (chosen == 0 || chosen > items.size()) return;
    switch (items[chosen - 1].command) {
        case window::ListCommand::Copy:
            if (commands_.copy) commands_.copy(selected_rows());
            return;
        case window::ListCommand::CopyFolder:
            if (commands_.copy_folder && row >= 0)
                commands_.copy_folder(static_cast<std::size_t>(row));
            return;
        case window::ListCommand::CopyAll:
        case window::ListCommand::CopyAllQuoted:
        case window::ListCommand::CopyAllNul:
            if (commands_.copy_all)
                commands_.copy_all(items[chosen - 1].command == window::ListCommand::CopyAll
                                       ? window::PathFormat::lines
                                   : items[chosen - 1].command == window::ListCommand::CopyAllQuoted
                                       ? window::PathFormat::quoted
                                       : window::PathFormat::nul_ended);
            return;
        case window::ListCommand::OpenFolder:
            if (commands_.open_folder && row >= 0)
                commands_.open_folder(static_cast<std::size_t>(row));
            return;
        case window::ListCommand::ExportAll:
            if (commands_.export_all) commands_.export_all();
            return;
        case window::ListCommand::ExportSelected:
            if (commands_.export_selected) commands_.export_selected(selected_rows());
            return;
        case window::ListCommand::FoldersNotRead:
            if (commands_.folders_not_read) commands_.folders_not_read();
            return;
        case window::ListCommand::Find:
            if (commands_.find) commands_.find();
            return;
        case window::ListCommand::FindNext:
            if (commands_.find_next) commands_.find_next();
            return;
    }
}

void ResultListView::draw_row(HDC context, std::size_t row, const RECT& bounds) {
    const bool selected =
        ListView_GetItemState(list_, static_cast<int>(row), LVIS_SELECTED) & LVIS_SELECTED;
    const bool focused = ::GetFocus() == list_;
    int background = COLOR_WINDOW;
    int foreground = COLOR_WINDOWTEXT;
    if (selected) {
        background = focused ? COLOR_HIGHLIGHT : COLOR_BTNFACE;
        foreground = focused ? COLOR_HIGHLIGHTTEXT : COLOR_BTNTEXT;
    }
    ::FillRect(context, &bounds, ::GetSysColorBrush(background));
    const HGDIOBJ previous = ::SelectObject(context, font_);
    ::SetBkMode(context, TRANSPARENT);
    ::SetTextColor(context, ::GetSysColor(foreground));
    RECT text = bounds;
    text.left += text_margin(context);
    const std::wstring shown = shown_text(context, row);
    ::DrawTextW(context, shown.data(), static_cast<int>(shown.size()), &text,
                DT_SINGLELINE | DT_NOPREFIX | DT_VCENTER | DT_NOCLIP);
    const bool has_focus_mark =
        ListView_GetItemState(list_, static_cast<int>(row), LVIS_FOCUSED) & LVIS_FOCUSED;
    if (focused && has_focus_mark) ::DrawFocusRect(context, &bounds);
    ::SelectObject(context, previous);
}

LRESULT ResultListView::draw(NMLVCUSTOMDRAW& draw) {
    switch (draw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            const auto row = static_cast<std::size_t>(draw.nmcd.dwItemSpec);
            if (row >= rows_) return CDRF_DODEFAULT;
            RECT bounds{};
            ListView_GetItemRect(list_, static_cast<int>(row), &bounds, LVIR_BOUNDS);
            draw_row(draw.nmcd.hdc, row, bounds);
            return CDRF_SKIPDEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

LRESULT ResultListView::on_notify(NMHDR& header) {
    switch (header.code) {
        case NM_CUSTOMDRAW:
            return draw(reinterpret_cast<NMLVCUSTOMDRAW&>(header));
        case LVN_GETDISPINFOW: {
            // Asked for by keyboard search and screen readers; drawing does not.
            LVITEMW& item = reinterpret_cast<NMLVDISPINFOW&>(header).item;
            if ((item.mask & LVIF_TEXT) != 0 && item.cchTextMax > 0 && item.iItem >= 0 &&
                static_cast<std::size_t>(item.iItem) < rows_) {
                display_ = shown_text(static_cast<std::size_t>(item.iItem));
                ::lstrcpynW(item.pszText, display_.c_str(), item.cchTextMax);
            }
            return 0;
        }
        case LVN_ODFINDITEMW:
            return -1;
        default:
            return 0;
    }
}

int ResultListView::row_at_pointer() const {
    LVHITTESTINFO hit{};
    ::GetCursorPos(&hit.pt);
    ::ScreenToClient(list_, &hit.pt);
    const int row = ListView_HitTest(list_, &hit);
    return (hit.flags & LVHT_ONITEM) != 0 ? row : -1;
}

LRESULT CALLBACK ResultListView::subclass_procedure(HWND window, UINT message, WPARAM wparam,
                                                    LPARAM lparam, UINT_PTR, DWORD_PTR self_data) {
    auto& self = *reinterpret_cast<ResultListView*>(self_data);
    switch (message) {
        case WM_SIZE: {
            TTTOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.hwnd = window;
            tool.uId = kRowTipId;
            ::GetClientRect(window, &tool.rect);
            ::SendMessageW(self.tooltip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
            break;
        }
        case WM_MOUSEMOVE: {
            const int row = self.row_at_pointer();
            if (row != self.tip_row_) {
                self.tip_row_ = row;
                ::SendMessageW(self.tooltip_, TTM_POP, 0, 0);
            }
            break;
        }
        case WM_NOTIFY: {
            auto& header = *reinterpret_cast<NMHDR*>(lparam);
            if (header.hwndFrom == self.tooltip_ && header.code == TTN_GETDISPINFOW) {
                auto& tip = reinterpret_cast<NMTTDISPINFOW&>(header);
                const int row = self.row_at_pointer();
                self.tip_ = row >= 0 && static_cast<std::size_t>(row) < self.rows_
                                ? self.tip_text(static_cast<std::size_t>(row))
                                : std::wstring();
                tip.lpszText = self.tip_.data();
                return 0;
            }
            break;
        }
        case WM_KEYDOWN:
            if (self.command_key(wparam) || self.scroll_key(wparam)) return 0;
            break;
        case WM_CHAR:
            // Ctrl+A and Ctrl+C were taken as keys; their characters would
            // start a search by the rows' first letters.
            if (wparam == 0x01 || wparam == 0x03) return 0;
            break;
        case WM_CONTEXTMENU:
            self.show_menu({GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)});
            return 0;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(window, subclass_procedure, kSubclassId);
            break;
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace kestrafin::win32
