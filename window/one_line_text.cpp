#include "window/one_line_text.h"

#include <cstdio>

#include "platform/text.h"

namespace kestrafin::window {

namespace {

bool needs_stand_in(char32_t point) {
    return platform::is_control_character(point) || point == 0x2028 || point == 0x2029 ||
           platform::is_direction_control(point);
}

}  // namespace

std::string one_line_text(std::string_view utf8) {
    std::string shown;
    shown.reserve(utf8.size());
    std::size_t at = 0;
    while (at < utf8.size()) {
        const platform::Utf8Sequence sequence = platform::decode_utf8(utf8.substr(at));
        const std::size_t length = sequence.length == 0 ? 1 : sequence.length;
        if (sequence.length != 0 && needs_stand_in(sequence.code_point)) {
            char code[16];
            std::snprintf(code, sizeof code, "<U+%04X>",
                          static_cast<unsigned>(sequence.code_point));
            shown += code;
        } else {
            shown.append(utf8.substr(at, length));
        }
        at += length;
    }
    return shown;
}

}  // namespace kestrafin::window
