#include "win32/folder_list_dialog.h"

#include <system_error>

#include "win32/dialog_template.h"

namespace kestrafin::win32 {

namespace {

constexpr int kListBoxId = kFolderListBoxId;
constexpr int kCopyId = 101;
constexpr int kExportId = 102;

INT_PTR CALLBACK list_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            const HWND box = ::GetDlgItem(dialog, kListBoxId);
            // The longest text a box takes: the list may be long.
            ::SendMessageW(box, EM_SETLIMITTEXT, 0, 0);
            ::SetWindowTextW(box, reinterpret_cast<const std::wstring*>(lparam)->c_str());
            // The caret at the start, nothing selected, as a text to read.
            ::SetFocus(box);
            ::SendMessageW(box, EM_SETSEL, 0, 0);
            return FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case kCopyId:
                case kExportId:
                case IDCANCEL:
                    ::EndDialog(dialog, LOWORD(wparam));
                    return TRUE;
                case IDOK:  // Enter
                    ::EndDialog(dialog, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

}  // namespace

window::FolderListAction show_folder_list_dialog(HWND owner, const std::wstring& title,
                                                 const std::wstring& text) {
    TemplateWriter writer;
    // In dialog units, which follow the dialog font and the window's DPI.
    writer.dword(DS_SHELLFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    writer.dword(0);  // extended style
    writer.word(4);   // items
    for (const short value : {0, 0, 400, 218}) writer.word(static_cast<WORD>(value));
    writer.word(0);  // no menu
    writer.word(0);  // the standard dialog class
    writer.text(title);
    writer.word(8);
    writer.text(L"MS Shell Dlg 2");
    writer.item(ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
                    WS_HSCROLL | WS_BORDER | WS_TABSTOP,
                7, 7, 386, 182, kListBoxId, kEditClass, L"");
    writer.item(BS_PUSHBUTTON | WS_TABSTOP, 205, 197, 60, 14, kCopyId, kButtonClass, L"Copy all");
    writer.item(BS_PUSHBUTTON | WS_TABSTOP, 269, 197, 70, 14, kExportId, kButtonClass,
                L"Export as CSV...");
    writer.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 343, 197, 50, 14, IDCANCEL, kButtonClass, L"Close");
    const auto instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(owner, GWLP_HINSTANCE));
    const INT_PTR chosen = ::DialogBoxIndirectParamW(instance, writer.get(), owner, list_procedure,
                                                     reinterpret_cast<LPARAM>(&text));
    if (chosen == -1)
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                                "cannot show the list of folders");
    if (chosen == kCopyId) return window::FolderListAction::copy;
    if (chosen == kExportId) return window::FolderListAction::export_csv;
    return window::FolderListAction::close;
}

}  // namespace kestrafin::win32
