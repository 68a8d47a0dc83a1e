#include "win32/file_dialog.h"

#include <commdlg.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace kestrafin::win32 {

std::optional<std::wstring> ask_for_csv_file(HWND owner, const std::wstring& title,
                                             const std::wstring& suggested_name) {
    // Room for any path the system takes, the longest included.
    std::vector<wchar_t> file(32768, L'\0');
    suggested_name.copy(file.data(), file.size() - 1);
    static constexpr wchar_t kFilter[] = L"CSV files (*.csv)\0*.csv\0All files (*.*)\0*.*\0";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = kFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = L"csv";
    // Without a hook or template the system shows its current Save dialog;
    // the process's working folder stays where it was.
    dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                   OFN_NOCHANGEDIR | OFN_NOREADONLYRETURN;
    if (::GetSaveFileNameW(&dialog)) return std::wstring(file.data());
    const DWORD error = ::CommDlgExtendedError();
    if (error == 0) return std::nullopt;  // cancelled or closed
    // The common dialogs' own codes (CDERR_..., FNERR_...), not the system's.
    throw std::runtime_error("cannot show the Save dialog: common dialog error " +
                             std::to_string(error));
}

}  // namespace kestrafin::win32
