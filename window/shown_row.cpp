#include "window/shown_row.h"

#include "platform/text.h"
#include "window/bidi_isolation.h"
#include "window/one_line_text.h"

namespace kestrafin::window {

namespace {

bool is_continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The character at the start of `text`: its bytes and its UTF-16 units.
struct Step {
    std::size_t bytes;
    std::size_t units;
};
Step step_at(std::string_view text) {
    const platform::Utf8Sequence sequence = platform::decode_utf8(text);
    if (sequence.length == 0) return {1, 1};
    return {sequence.length, sequence.code_point > 0xFFFF ? 2u : 1u};
}

}  // namespace

ShownParts shown_parts(std::string_view text, std::size_t most) {
    // No text has more units than bytes.
    if (text.size() <= most) return {text, {}, false};
    const std::size_t half = most / 2;
    std::size_t at = 0;
    std::size_t units = 0;
    std::size_t head_end = 0;
    while (at < text.size() && units <= most) {
        const Step step = step_at(text.substr(at));
        at += step.bytes;
        units += step.units;
        if (units <= half) head_end = at;
    }
    if (units <= most) return {text, {}, false};

    // A character takes at most four bytes: the last `half` units lie in the
    // last 4 * `half` bytes. Counted from a character's start, then the
    // surplus dropped from the front.
    std::size_t from = text.size() > 4 * half ? text.size() - 4 * half : 0;
    from = std::max(from, head_end);
    for (int back = 0; back < 3 && from > head_end && is_continuation(text[from]); ++back) --from;
    std::size_t tail_units = 0;
    for (std::size_t i = from; i < text.size();) {
        const Step step = step_at(text.substr(i));
        i += step.bytes;
        tail_units += step.units;
    }
    while (tail_units > half) {
        const Step step = step_at(text.substr(from));
        from += step.bytes;
        tail_units -= step.units;
    }
    return {text.substr(0, head_end), text.substr(from), true};
}

std::string shown_row_text(std::string_view text, char separator, std::size_t most) {
    const ShownParts parts = shown_parts(text, most);
    std::string shown = one_line_text(parts.head);
    if (parts.cut) {
        shown += kElision;
        shown += one_line_text(parts.tail);
    }
    // Right-to-left names keep their folders in path order.
    if (may_reorder(shown)) shown = isolated_segments(shown, separator);
    return shown;
}

}  // namespace kestrafin::window
