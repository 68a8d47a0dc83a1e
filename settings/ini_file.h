// Reading and writing one key of an INI-style settings file. The file's text
// is stored as platform/stored_text.h says (Windows: the ANSI code page, or
// UTF-8 with a byte order mark). Both operations read the file as a stream:
// they hold a small multiple of its longest line, never the whole file, and
// writeini reads it twice. A failure to get memory raises
// platform::NotEnoughMemory naming the work, the file and its size.
#pragma once

#include <functional>
#include <string>

namespace Kestrafin_Lib {

// The value of `key` in `section` of the settings file `file_name`; the empty
// text when the section or the key is missing. Section and key match without
// regard to letter case. A missing file is created empty. Raises
// std::system_error when the file cannot be created, made writable or read.
std::string readini(const std::string& file_name, const std::string& section,
                    const std::string& key);

// As readini(), calling `answered` after every piece of the file read, so
// that a caller waiting on a slow file system can tell a slow answer from none.
std::string readini(const std::string& file_name, const std::string& section,
                    const std::string& key, const std::function<void()>& answered);

// Stores `value` as `key` in `section` of `file_name`, adding the section or
// the key when missing, and tidies the file's line breaks. The file is
// replaced whole, so a failure leaves its old text; a file changed by another
// program between the two readings is not replaced (std::runtime_error). Raises
// std::invalid_argument for a section, key or value holding a line break, or a
// value ending in a control character (the tidying would cut it off), and
// std::system_error when the file cannot be read or written.
void writeini(const std::string& file_name, const std::string& section, const std::string& key,
              const std::string& value);

}  // namespace Kestrafin_Lib
