#include "window/one_line_text.h"

#include <cstdio>

#include "platform/text.h"

namespace kestrafin::window {

namespace {

// Controls and direction marks (platform/text.h), and the characters that
// draw nothing yet have no part in writing a name. Left as themselves on
// purpose: U+200C and U+200D, which Persian, Indic and emoji names need; the
// variation selectors; U+0600 to U+0605, U+06DD and U+070F, which are drawn,
// over or around the digits after them.
bool needs_stand_in(char32_t point) {
    if (platform::is_control_character(point) || platform::is_direction_control(point)) return true;
    // Soft hyphen (shows only where a line breaks), zero width space, and the
    // byte order mark or zero width no-break space.
    if (point == 0x00AD || point == 0x200B || point == 0xFEFF) return true;
    // Line and paragraph separators.
    if (point == 0x2028 || point == 0x2029) return true;
    // Word joiner, invisible operators and the old shaping and digit
    // controls, which change how brackets and digits look.
    if (point >= 0x2060 && point <= 0x206F) return true;
    // Annotation marks: a renderer may hide the text between them.
    if (point >= 0xFFF9 && point <= 0xFFFB) return true;
    // Tags: an invisible copy of ASCII that can carry a whole hidden text.
    return point >= 0xE0000 && point <= 0xE007F;
}

// Spelled out rather than as a picture, which many fonts lack.
std::string code_point_text(char32_t code_point) {
    char code[16];
    std::snprintf(code, sizeof code, "<U+%04X>", static_cast<unsigned>(code_point));
    return code;
}

}  // namespace

bool is_variation_selector(char32_t code_point) {
    return (code_point >= 0xFE00 && code_point <= 0xFE0F) ||
           (code_point >= 0xE0100 && code_point <= 0xE01EF);
}

std::string stand_in_for(char32_t code_point) {
    return needs_stand_in(code_point) ? code_point_text(code_point) : std::string();
}

std::string one_line_text(std::string_view utf8) {
    std::string shown;
    shown.reserve(utf8.size());
    std::size_t at = 0;
    bool after_selector = false;
    while (at < utf8.size()) {
        const platform::Utf8Sequence sequence = platform::decode_utf8(utf8.substr(at));
        const std::size_t length = sequence.length == 0 ? 1 : sequence.length;
        const bool selector = sequence.length != 0 && is_variation_selector(sequence.code_point);
        std::string stand_in;
        if (selector && after_selector)
            stand_in = code_point_text(sequence.code_point);
        else if (sequence.length != 0)
            stand_in = stand_in_for(sequence.code_point);
        after_selector = selector;
        if (stand_in.empty())
            shown.append(utf8.substr(at, length));
        else
            shown += stand_in;
        at += length;
    }
    return shown;
}

}  // namespace kestrafin::window
