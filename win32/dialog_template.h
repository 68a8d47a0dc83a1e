// Dialogs built in memory, so that they need no resource: a template
// written word by word, as DialogBoxIndirectParamW takes it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrafin::win32 {

// The system's control classes, by their atoms.
inline constexpr WORD kButtonClass = 0x0080;
inline constexpr WORD kEditClass = 0x0081;
inline constexpr WORD kStaticClass = 0x0082;
inline constexpr WORD kComboBoxClass = 0x0085;

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

}  // namespace kestrafin::win32
