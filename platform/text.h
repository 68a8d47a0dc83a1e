// Text as the platform layer holds it. Names are UTF-8 everywhere but at the
// Windows API, which speaks UTF-16; a UTF-16 name may hold unpaired
// surrogates, kept as three-byte sequences (WTF-8), so every name converts
// back exactly. Paths handed to the Windows API carry the "\\?\" prefix,
// which lifts the 260-character limit and stops the system from rewriting
// the path. Pure functions, built on every host so that every host tests them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrafin::platform {

// Decoding one UTF-8 sequence: the one decoder behind name lengths, the
// conversion to UTF-16 and the quoting of names for a terminal. Each caller
// judges what it decodes by its own rules; the shape of a valid sequence is
// decided here alone.
struct Utf8Sequence {
    std::size_t length = 0;  // bytes; 0 when no sequence starts the text
    char32_t code_point = 0;

    bool is_surrogate() const { return code_point >= 0xD800 && code_point <= 0xDFFF; }
};

// Appends `point` in UTF-8 (a surrogate as WTF-8 keeps it): the one encoder.
void append_code_point(std::string& out, char32_t point);

// The sequence at the start of `text`. Encoded surrogates (0xED 0xA0..0xBF
// ..) are taken as one sequence, as WTF-8 holds them: the Windows backend
// gives names with unpaired surrogates, which NTFS allows, in that form.
// Overlong forms, values past U+10FFFF, lone continuation bytes and
// sequences cut short give length 0.
inline Utf8Sequence decode_utf8(std::string_view text) {
    if (text.empty()) return {};
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {1, lead};
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range the second byte must lie in
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {};
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return {};
    char32_t point = lead & (0x7F >> length);
    for (std::size_t at = 1; at < length; ++at) {
        if ((byte(at) & 0xC0) != 0x80) return {};
        point = (point << 6) | (byte(at) & 0x3F);
    }
    return {length, point};
}

// C0 and C1 control characters and DEL: where text is shown they move the
// cursor, break the line or start an escape sequence instead of showing.
inline bool is_control_character(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F);
}

// The marks, embeddings, overrides and isolates that change the direction of
// the text around them, so that a shown name reads in another order.
inline bool is_direction_control(char32_t point) {
    return (point >= 0x202A && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069) ||
           point == 0x200E || point == 0x200F || point == 0x061C;
}

// Appends `text` (UTF-16) to `out` as UTF-8, unpaired surrogates as WTF-8.
void append_utf8_from_utf16(std::string& out, std::u16string_view text);

// `text` as UTF-8, unpaired surrogates as WTF-8.
std::string utf8_from_utf16(std::u16string_view text);

// `text` as UTF-16. Encoded surrogates (WTF-8) become the units they stand
// for; a byte that starts no valid sequence becomes U+FFFD.
std::u16string utf16_from_utf8(std::string_view text);

// True when every byte of `text` is ASCII (below 0x80).
bool is_ascii(std::string_view text);

// `text` with the ASCII letters in upper case and every other byte as it is.
std::string ascii_upper(std::string_view text);

// `full_path` with the long-path prefix. `full_path` is absolute, as GetFullPathNameW
// makes it (backslashes, no "." or ".." parts). "C:\x" becomes "\\?\C:\x",
// the share "\\server\share\x" becomes "\\?\UNC\server\share\x", and a path
// that already carries "\\?\" or the device prefix "\\.\" is kept unchanged.
std::u16string with_long_path_prefix(std::u16string_view full_path);

// The form a user reads: "\\?\C:\x" becomes "C:\x" and "\\?\UNC\server\x"
// becomes "\\server\x"; any other path is kept unchanged.
std::u16string without_long_path_prefix(std::u16string_view path);

// True when `path` already carries "\\?\" or "\\.\" and must not be rewritten.
bool has_system_prefix(std::u16string_view path);

// The file: URI of the absolute POSIX path `path`: every byte but the
// unreserved ones and "/" percent-encoded, so that any name, a comma or a
// line break in it included, comes through whole.
std::string file_uri(std::string_view path);

}  // namespace kestrafin::platform
