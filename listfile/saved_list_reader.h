// Reading the saved list file as a stream: records are handed on as they are
// read, so that reloading a list never holds the whole file at once.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/stored_text.h"

namespace kestrafin::listfile {

// Calls `add` for every field of `bytes` that ends inside it, by the rules of
// read_records(), and returns how many bytes those fields and their separators
// took. Unless `at_end` is set, a field that might go on in bytes still to
// come is left unread, so a caller can read on and parse from there.
std::size_t read_complete_records(std::string_view bytes, bool at_end,
                                  const std::function<void(std::string_view)>& add);

class SavedListReader {
  public:
    // Opens the saved list file `path`. Raises std::system_error when it
    // cannot be opened.
    explicit SavedListReader(const std::string& path, std::size_t piece_size = 1 << 20);

    // Reads the file to its end, calling `add` with the text of each record,
    // in file order, as load_list() would. Where text is stored in a code
    // page the file is read twice, first to learn its form (see
    // platform/stored_text.h). Texts passed to `add` are valid only during
    // the call; an exception from `add` ends the reading. Raises
    // std::system_error when a read fails, after the records before it.
    void read_all(const std::function<void(std::string_view)>& add);

  private:
    // Calls `each` with the file's bytes piece by piece while it answers true.
    void read_pieces(const std::function<bool(std::string_view)>& each);
    // Calls `add` with each record's stored bytes, the first `skip` bytes
    // of the file left out.
    void read_bytes(std::size_t skip, const std::function<void(std::string_view)>& add);

    platform::SequentialFileReader file_;
    std::size_t piece_size_;
};

}  // namespace kestrafin::listfile
