#include "win32/text_prompt.h"

#include <cstdint>
#include <system_error>
#include <vector>

#include "window/window_design.h"

namespace kestrafin::win32 {

namespace {

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr int kTextBoxId = 100;
constexpr int kPromptId = 101;

// Writes a dialog template word by word; items start on DWORD boundaries.
class TemplateWriter {
  public:
    void word(WORD value) { words_.push_back(value); }
    void dword(DWORD value) {
        word(LOWORD(value));
        word(HIWORD(value));
    }
    void text(const std::wstring& value) {
        for (const wchar_t unit : value) word(static_cast<WORD>(unit));
        word(0);
    }
    void align() {
        if (words_.size() % 2 != 0) word(0);
    }
    void item(DWORD style, short left, short top, short width, short height, WORD id, WORD kind,
              const std::wstring& caption) {
        align();
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);  // extended style
        for (const short value : {left, top, width, height}) word(static_cast<WORD>(value));
        word(id);
        word(0xFFFF);
        word(kind);
        text(caption);
        word(0);  // no creation data
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  private:
    std::vector<WORD> words_;
};

struct PromptState {
    std::optional<std::wstring> entered;
};

INT_PTR CALLBACK prompt_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            ::SetWindowLongPtrW(dialog, GWLP_USERDATA, lparam);
            // The longest text a box takes, for paths of any length.
            ::SendDlgItemMessageW(dialog, kTextBoxId, EM_SETLIMITTEXT, 0, 0);
            return TRUE;  // the focus goes to the text box, the first stop
        case WM_COMMAND: {
            auto* state =
                reinterpret_cast<PromptState*>(::GetWindowLongPtrW(dialog, GWLP_USERDATA));
            if (LOWORD(wparam) == IDOK) {
                const HWND box = ::GetDlgItem(dialog, kTextBoxId);
                std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
                text.resize(static_cast<std::size_t>(
                    ::GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
                state->entered = std::move(text);
                ::EndDialog(dialog, IDOK);
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

std::optional<std::wstring> ask_for_text(HWND owner, const std::wstring& title,
                                         const std::wstring& prompt) {
    TemplateWriter writer;
    // In dialog units, which follow the dialog font and the window's DPI.
    writer.dword(DS_SHELLFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    writer.dword(0);  // extended style
    writer.word(4);   // items
    constexpr short box = window::design::kPromptBoxDialogUnits;
    for (const short value : {0, 0, box + 14, 62}) writer.word(static_cast<WORD>(value));
    writer.word(0);  // no menu
    writer.word(0);  // the standard dialog class
    writer.text(title);
    writer.word(8);
    writer.text(L"MS Shell Dlg 2");
    writer.item(SS_LEFT | SS_NOPREFIX, 7, 7, box, 10, kPromptId, kStaticClass, prompt);
    writer.item(ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 20, box, 14, kTextBoxId,
                kEditClass, L"");
    // The buttons end where the box ends.
    writer.item(BS_DEFPUSHBUTTON | WS_TABSTOP, box - 97, 41, 50, 14, IDOK, kButtonClass, L"OK");
    writer.item(BS_PUSHBUTTON | WS_TABSTOP, box - 43, 41, 50, 14, IDCANCEL, kButtonClass,
                L"Cancel");
    PromptState state;
    const auto instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(owner, GWLP_HINSTANCE));
    if (::DialogBoxIndirectParamW(instance, writer.get(), owner, prompt_procedure,
                                  reinterpret_cast<LPARAM>(&state)) == -1)
        throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                                "cannot show the prompt");
    return state.entered;
}

}  // namespace kestrafin::win32
