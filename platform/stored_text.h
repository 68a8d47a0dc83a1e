// Text of the program's own files (the settings file, the saved list) as the
// host stores it, and back. The program holds text as UTF-8 (names with
// unpaired surrogates as WTF-8).
//
// Where the host stores text in a code page (Windows: its ANSI code page), a
// file is read as UTF-8 when it starts with a byte order mark or is UTF-8
// throughout (as earlier builds wrote it), and in the code page otherwise. It
// is written in the code page when every character of its text has an exact
// form there (no look-alike), so that other tools and earlier builds read
// it, and as UTF-8 with a byte order mark otherwise.
//
// Where the host stores the program's own bytes (Linux; code page 0) text
// passes unchanged, and a byte order mark stays where it was.
//
// Bytes below 0x30 (controls, line breaks, quotes, commas) stand for the
// same characters in every code page a system takes as its ANSI code page,
// never inside a character of several bytes: they may be found in stored
// bytes before these are converted.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::platform {

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The code page of this host's stored text: Windows' ANSI code page (which
// may be 65001, UTF-8), 0 on hosts whose files hold the program's bytes.
unsigned stored_text_code_page();

// Appends `stored`, text in `code_page`, to `out` as the program's text.
// Returns false when some bytes stand for no character there; the system's
// replacement character (U+FFFD, or the code page's own) stands for them. Code page 0 appends the
// bytes unchanged. Code pages other than 0 exist on Windows only; elsewhere they raise
// std::invalid_argument.
bool append_from_code_page(std::string& out, std::string_view stored, unsigned code_page);

// Appends `text` in `code_page` to `out`. Returns false, with `out` as it
// was, when some character has no exact form there. Code page 0 appends the
// text unchanged.
bool append_in_code_page(std::string& out, std::string_view text, unsigned code_page);

// Learns, piece by piece, whether bytes are UTF-8 throughout. Encoded
// surrogates count as UTF-8: they are how names with unpaired surrogates
// were stored.
class Utf8Check {
  public:
    void add(std::string_view bytes);
    // Whether everything added so far is UTF-8; a sequence cut short at the
    // end is not.
    bool valid() const { return valid_ && pending_.empty(); }
    // Whether some bytes added so far are known not to be UTF-8, whatever
    // comes after them.
    bool failed() const { return !valid_; }

  private:
    std::string pending_;  // the start of a sequence that the next piece ends
    bool valid_ = true;
};

// How one stored file holds its text.
struct StoredForm {
    unsigned code_page = 0;  // 0: the program's own bytes (UTF-8)
    bool byte_order_mark = false;
    bool operator==(const StoredForm&) const = default;
};

// The form in which to read a file whose text (after a mark, if any) is or
// is not UTF-8 throughout, on a host storing text in `code_page`.
StoredForm form_to_read(bool byte_order_mark, bool utf8, unsigned code_page);

// The form in which to write a text on a host storing text in `code_page`:
// `fits` tells whether every character has an exact form in that code page;
// `had_mark` whether the file had a mark (kept where text is bytes).
StoredForm form_to_write(bool fits, bool had_mark, unsigned code_page);

// Appends `stored`, in `form`, to `out` as the program's text; see
// append_from_code_page().
bool append_program_text(std::string& out, std::string_view stored, const StoredForm& form);

// Appends the program's `text` in `form` to `out`; see append_in_code_page().
bool append_stored_text(std::string& out, std::string_view text, const StoredForm& form);

}  // namespace kestrafin::platform
