// How the scan's JSON writes a text, shared by --format json and the record:
// bytes that are no valid UTF-8 become U+FFFD, and a field of such a text is
// followed by "<name>_base64" with its exact bytes.
#pragma once

#include <string>
#include <string_view>

#include "scan/entry.h"

namespace kestrafin::scan {

// Appends `text` as a JSON string.
void append_json_string(std::string& out, std::string_view text);
// Appends `text` escaped as inside a JSON string, without the quotes; false
// when it is no valid UTF-8.
bool append_json_escaped(std::string& out, std::string_view text);
// Appends the base64 form of `bytes`.
void append_base64(std::string& out, std::string_view bytes);
// Appends "name":"text", and "name_base64":"..." when `text` is no valid UTF-8.
void append_json_text_field(std::string& out, std::string_view name, std::string_view text);
// "file", "folder", "link" or "error".
std::string_view kind_name(EntryKind kind);

}  // namespace kestrafin::scan
