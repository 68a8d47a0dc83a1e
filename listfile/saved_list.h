// The saved result list: one double-quoted text per line, each line ending in
// CR LF, nothing else. A quote inside a text is written doubled.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

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

// Reads the saved list file `path` whole and then calls `add` for each of its
// records, as read_records() does. Raises std::system_error when the file
// cannot be read, before `add` has been called at all.
void load_list(const std::string& path, const std::function<void(std::string_view)>& add);

// Writes the saved list file `path` anew from `texts`, which calls its argument
// once for each entry text in list order. Raises std::system_error when the
// file cannot be written; the old file then stays as it was.
void save_list(const std::string& path,
               const std::function<void(const std::function<void(std::string_view)>&)>& texts);

// Streams records into a saved list file that replaces `path` on commit()
// (see AtomicFileWriter); dropped without commit(), it leaves the old file as
// it was. Raises std::system_error at once when `path` is marked read-only,
// may not be written by this user, or is not a regular file.
class SavedListWriter {
  public:
    explicit SavedListWriter(const std::string& path);
    void add(std::string_view text);
    void commit() { file_.commit(); }
    // The file the records go to until commit(), while it has a name.
    std::optional<platform::AtomicFileWriter::TemporaryFile> temporary_file() const {
        return file_.temporary_file();
    }

  private:
    platform::AtomicFileWriter file_;
    std::string record_;
};

}  // namespace kestrafin::listfile
