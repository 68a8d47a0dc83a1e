// Decoding one UTF-8 sequence: the one decoder behind name lengths, the
// conversion to UTF-16 and the quoting of names for a terminal. Each caller
// judges what it decodes by its own rules; the shape of a valid sequence is
// decided here alone.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrafin::platform {

struct Utf8Sequence {
    std::size_t length = 0;  // bytes; 0 when no sequence starts the text
    char32_t code_point = 0;

    bool is_surrogate() const { return code_point >= 0xD800 && code_point <= 0xDFFF; }
};

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

}  // namespace kestrafin::platform
