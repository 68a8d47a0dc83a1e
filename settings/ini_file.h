// Reading and writing one key of an INI-style settings file.
#pragma once

#include <string>

namespace Kestrafin_Lib {

// The value of `key` in `section` of the settings file `file_name`; the empty
// text when the section or the key is missing. Section and key match without
// regard to letter case. A missing file is created empty. Raises
// std::system_error when the file cannot be created, made writable or read.
std::string readini(const std::string& file_name, const std::string& section,
                    const std::string& key);

// Stores `value` as `key` in `section` of `file_name`, adding the section or
// the key when missing, and tidies the file's line breaks. The file is
// replaced whole, so a failure leaves its old text. Raises
// std::invalid_argument for a section, key or value holding a line break, or a
// value ending in a control character (the tidying would cut it off), and
// std::system_error when the file cannot be read or written.
void writeini(const std::string& file_name, const std::string& section, const std::string& key,
              const std::string& value);

}  // namespace Kestrafin_Lib
