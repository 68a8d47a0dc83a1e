#include "window/bidi_isolation.h"

#include "platform/text.h"

namespace kestrafin::window {

namespace {

constexpr std::string_view kFirstStrongIsolate = "\xE2\x81\xA8";
constexpr std::string_view kPopDirectionalIsolate = "\xE2\x81\xA9";

// Right-to-left scripts and the controls that change direction: Hebrew,
// Arabic, Syriac, Thaana, NKo, Samaritan, Mandaic (U+0590 to U+08FF), the
// presentation forms, the right-to-left planes of the supplementary range,
// and the explicit marks, embeddings and isolates (platform/text.h).
bool may_change_direction(char32_t point) {
    return (point >= 0x0590 && point <= 0x08FF) || (point >= 0xFB1D && point <= 0xFDFF) ||
           (point >= 0xFE70 && point <= 0xFEFF) || (point >= 0x10800 && point <= 0x10FFF) ||
           (point >= 0x1E800 && point <= 0x1EFFF) || platform::is_direction_control(point);
}

}  // namespace

bool may_reorder(std::string_view path) {
    std::size_t at = 0;
    while (at < path.size()) {
        if (static_cast<unsigned char>(path[at]) < 0x80) {
            ++at;
            continue;
        }
        const platform::Utf8Sequence sequence = platform::decode_utf8(path.substr(at));
        if (sequence.length == 0) {
            ++at;
            continue;
        }
        if (may_change_direction(sequence.code_point)) return true;
        at += sequence.length;
    }
    return false;
}

std::string isolated_segments(std::string_view path, char separator) {
    if (!may_reorder(path)) return std::string(path);
    std::string shown;
    shown.reserve(path.size() + 16);
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(separator, start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(start, end - start);
        // The rest is left-to-right already; isolates drawn by a font that
        // lacks them would only add gaps.
        if (may_reorder(segment)) {
            shown += kFirstStrongIsolate;
            shown += segment;
            shown += kPopDirectionalIsolate;
        } else {
            shown += segment;
        }
        if (end == path.size()) break;
        shown += separator;
        start = end + 1;
    }
    return shown;
}

}  // namespace kestrafin::window
