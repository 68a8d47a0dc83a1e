// The saved result list: one double-quoted text per line, each line ending in
// CR LF, nothing else. A quote inside a text is written doubled. The text is
// stored as platform/stored_text.h says (Windows: the ANSI code page, or
// UTF-8 with a byte order mark); record functions on bytes work on the
// stored bytes, whose quotes, commas and line breaks every form shares.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/stored_text.h"

namespace kestrafin::listfile {

inline constexpr std::string_view kSavedListName = "kestrafinlist.dxb";

// Appends the record of one entry text to `out`.
void append_record(std::string& out, std::string_view text);

// Calls `add` with the text of every field of `bytes`, in file order. A quoted
// field runs to its closing quote (a doubled quote inside stands for one
// quote; with no closing quote the field runs to the end); anything between
// the closing quote and the next comma or line end is dropped. An unquoted
// field runs to the next comma or line end and is kept exactly, blanks
// included. A line end is CR LF, CR or LF; one with nothing before it gives a
// field with empty text. Texts passed to `add` are valid only during the call.
void read_records(std::string_view bytes, const std::function<void(std::string_view)>& add);

// Reads the saved list file `path` whole and then calls `add` with the text
// of each of its records, as read_records() finds them, in the program's
// text. Raises std::system_error when the file cannot be read, before `add`
// has been called at all.
void load_list(const std::string& path, const std::function<void(std::string_view)>& add);

// Writes the saved list file `path` anew from `texts`, which calls its argument
// once for each entry text in list order; where text is stored in a code
// page, it is called twice, first to learn whether every text fits it.
// Raises std::system_error when the file cannot be written; the old file
// then stays as it was.
void save_list(const std::string& path,
               const std::function<void(const std::function<void(std::string_view)>&)>& texts);

// The form of a list written as a stream, whose texts are not known before
// it starts: one every text can take (UTF-8 with a byte order mark where
// text is stored in a code page).
platform::StoredForm streamed_list_form();

// Streams records in `form` into a saved list file that replaces `path` on
// commit() (see AtomicFileWriter); dropped without commit(), it leaves the
// old file as it was. Raises std::system_error at once when `path` is marked
// read-only, may not be written by this user, or is not a regular file, and
// std::invalid_argument from add() for a text without a form in `form`'s
// code page.
class SavedListWriter {
  public:
    explicit SavedListWriter(const std::string& path,
                             platform::StoredForm form = streamed_list_form());
    void add(std::string_view text);
    void commit() { file_.commit(); }
    // The file the records go to until commit(), while it has a name.
    std::optional<platform::AtomicFileWriter::TemporaryFile> temporary_file() const {
        return file_.temporary_file();
    }

  private:
    platform::AtomicFileWriter file_;
    platform::StoredForm form_;
    std::string record_;
    std::string stored_;
};

}  // namespace kestrafin::listfile
