#include "win32/text_prompt.h"

#include <exception>
#include <string>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "win32/dialog_template.h"
#include "win32/folder_picker.h"
#include "window/window_design.h"

namespace kestrafin::win32 {

namespace {

constexpr int kTextBoxId = 100;
constexpr int kPromptId = 101;

constexpr int kBrowseId = 102;

struct PromptState {
    const std::wstring* initial = nullptr;
    // For the root: the box is a combo box offering these, beside "Browse...".
    const std::vector<std::wstring>* recent = nullptr;
    std::optional<std::wstring> entered;
};

std::wstring text_of(HWND control) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

INT_PTR CALLBACK prompt_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG: {
            ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
            const auto* state = reinterpret_cast<PromptState*>(lparam);
            // The longest text a box takes, for paths of any length.
            if (state->recent != nullptr) {
                ::SendDlgItemMessageW(dialog, kTextBoxId, CB_LIMITTEXT, 0, 0);
                for (const std::wstring& root : *state->recent)
                    ::SendDlgItemMessageW(dialog, kTextBoxId, CB_ADDSTRING, 0,
                                          reinterpret_cast<LPARAM>(root.c_str()));
            } else {
                ::SendDlgItemMessageW(dialog, kTextBoxId, EM_SETLIMITTEXT, 0, 0);
            }
            ::SetDlgItemTextW(dialog, kTextBoxId, state->initial->c_str());
            if (state->recent == nullptr)
                ::SendDlgItemMessageW(dialog, kTextBoxId, EM_SETSEL, 0, -1);
            return TRUE;  // the focus goes to the text box, the first stop
        }
        case WM_COMMAND: {
            auto* state =
                reinterpret_cast<PromptState*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
            if (LOWORD(wparam) == IDOK) {
                state->entered = text_of(::GetDlgItem(dialog, kTextBoxId));
                ::EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wparam) == kBrowseId && HIWORD(wparam) == BN_CLICKED) {
                const HWND box = ::GetDlgItem(dialog, kTextBoxId);
                try {
                    if (const auto folder = pick_folder(dialog, text_of(box))) {
                        ::SetWindowTextW(box, folder->c_str());
                        ::SetFocus(box);
                    }
                } catch (const std::exception& failure) {
                    const std::u16string reason =
                        platform::utf16_from_utf8(platform::failure_text(failure));
                    ::MessageBoxW(dialog, std::wstring(reason.begin(), reason.end()).c_str(),
                                  L"Kestrafin", MB_OK | MB_ICONERROR);
                }
                return TRUE;
            }
            if (LOWORD(wparam) == IDCANCEL) {
                ::EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace

namespace {

std::optional<std::wstring> show_prompt(HWND owner, const std::wstring& title,
                                        const std::wstring& prompt, const std::wstring& initial,
                                        const std::vector<std::wstring>* recent) {
    TemplateWriter writer;
    // In dialog units, which follow the dialog font and the window's DPI.
    writer.dword(DS_SHELLFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    writer.dword(0);                         // extended style
    writer.word(recent != nullptr ? 5 : 4);  // items
    constexpr short box = window::design::kPromptBoxDialogUnits;
    for (const short value : {0, 0, box + 14, 62}) writer.word(static_cast<WORD>(value));
    writer.word(0);  // no menu
    writer.word(0);  // the standard dialog class
    writer.text(title);
    writer.word(8);
    writer.text(L"MS Shell Dlg 2");
    writer.item(SS_LEFT | SS_NOPREFIX, 7, 7, box, 10, kPromptId, kStaticClass, prompt);
    if (recent != nullptr) {
        // The height holds the list that drops down; "Browse..." ends where
        // the box would.
        writer.item(CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 7, 20, box - 56, 120,
                    kTextBoxId, kComboBoxClass, L"");
        writer.item(BS_PUSHBUTTON | WS_TABSTOP, box - 45, 19, 52, 14, kBrowseId, kButtonClass,
                    L"Browse...");
    } else {
        writer.item(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 20, box, 14, kTextBoxId,
                    kEditClass, L"");
    }
    // The buttons end where the box ends.
    writer.item(BS_DEFPUSHBUTTON | WS_TABSTOP, box - 97, 41, 50, 14, IDOK, kButtonClass, L"OK");
    writer.item(BS_PUSHBUTTON | WS_TABSTOP, box - 43, 41, 50, 14, IDCANCEL, kButtonClass,
                L"Cancel");
    PromptState state;
    state.initial = &initial;
    state.recent = recent;
    const auto instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(owner, GWLP_HINSTANCE));
    if (::DialogBoxIndirectParamW(instance, writer.get(), owner, prompt_procedure,
                                  reinterpret_cast<LPARAM>(&state)) == -1)
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                                "cannot show the prompt");
    return state.entered;
}

}  // namespace

std::optional<std::wstring> ask_for_text(HWND owner, const std::wstring& title,
                                         const std::wstring& prompt, const std::wstring& initial) {
    return show_prompt(owner, title, prompt, initial, nullptr);
}

std::optional<std::wstring> ask_for_root(HWND owner, const std::wstring& title,
                                         const std::wstring& prompt,
                                         const std::vector<std::wstring>& recent) {
    return show_prompt(owner, title, prompt, L"", &recent);
}

}  // namespace kestrafin::win32
