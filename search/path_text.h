// Small text helpers of the long-path search.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrafin::search {

// `path` with a trailing path separator ensured: an empty path gives the
// separator alone, a path that ends with it stays as it is.
std::string addslash(std::string_view path);

// The length in bytes of the valid UTF-8 sequence at the start of `text`, 1
// for an ASCII byte; 0 when `text` is empty or starts with a byte that begins
// no valid sequence (overlong forms, surrogates and values past U+10FFFF).
std::size_t utf8_sequence_length(std::string_view text);

// The length of UTF-8 `text` in UTF-16 code units, as the host that counts in
// them sees it: one per character of the basic plane and per encoded
// surrogate, two above the basic plane, and one for each byte that is no
// valid UTF-8.
std::size_t utf16_length(std::string_view text);

// The length of the path `path` as a destination sees it: on a host whose
// separator is "\\", without the long-path prefix ("\\?\C:\x" counts as
// "C:\x", "\\?\UNC\server\share" as "\\server\share"); elsewhere its
// utf16_length. A relative path counts as typed.
std::size_t destination_length(std::string_view path);

}  // namespace kestrafin::search
