// Converting names between UTF-16, which the Windows API speaks, and the UTF-8
// held everywhere else. A UTF-16 name may hold unpaired surrogates; they are
// kept as three-byte sequences (WTF-8), so every name converts back exactly.
#pragma once

#include <string>
#include <string_view>

namespace kestrafin::platform {

// Appends `text` to `out` as UTF-8, unpaired surrogates as WTF-8.
void append_utf8_from_utf16(std::string& out, std::u16string_view text);

// `text` as UTF-8, unpaired surrogates as WTF-8.
std::string utf8_from_utf16(std::u16string_view text);

// `text` as UTF-16. Encoded surrogates (WTF-8) become the units they stand
// for; a byte that starts no valid sequence becomes U+FFFD.
std::u16string utf16_from_utf8(std::string_view text);

}  // namespace kestrafin::platform
