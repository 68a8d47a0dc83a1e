#include "scan/report/markup.h"

#include <cstdio>

#include "platform/text.h"

namespace kestrafin::scan::report {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool shown_by_code_point(char32_t point) {
    return platform::is_control_character(point) || platform::is_direction_control(point) ||
           point == 0x2028 || point == 0x2029;
}

// Calls `piece` with each shown piece of `bytes`: a character as it is, or
// the text that stands for it.
template <typename Piece>
void each_piece(std::string_view bytes, Piece piece) {
    for (std::size_t i = 0; i < bytes.size();) {
        const platform::Utf8Sequence sequence = platform::decode_utf8(bytes.substr(i));
        // A surrogate is no valid UTF-8: a record's text form has U+FFFD
        // for each of its bytes.
        if (sequence.length == 0 || sequence.is_surrogate()) {
            piece(kReplacementCharacter, false);
            ++i;
            continue;
        }
        if (shown_by_code_point(sequence.code_point)) {
            char name[24];
            std::snprintf(name, sizeof name, "\xE2\x9F\xA8U+%04X\xE2\x9F\xA9",
                          static_cast<unsigned>(sequence.code_point));
            piece(std::string_view(name), false);
        } else {
            piece(bytes.substr(i, sequence.length), true);
        }
        i += sequence.length;
    }
}

}  // namespace

void append_text(std::string& out, std::string_view bytes) {
    each_piece(bytes, [&](std::string_view piece, bool as_is) {
        if (!as_is || piece.size() != 1) {
            out.append(piece);
            return;
        }
        switch (piece[0]) {
            case '&':
                out.append("&amp;");
                break;
            case '<':
                out.append("&lt;");
                break;
            case '>':
                out.append("&gt;");
                break;
            case '"':
                out.append("&quot;");
                break;
            case '\'':
                out.append("&#39;");
                break;
            default:
                out.push_back(piece[0]);
        }
    });
}

std::string markup_text(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    append_text(out, bytes);
    return out;
}

std::size_t shown_length(std::string_view bytes) {
    std::size_t length = 0;
    each_piece(bytes, [&](std::string_view piece, bool as_is) {
        length += as_is ? 1 : piece == kReplacementCharacter ? 1 : piece.size() - 4;
    });
    return length;
}

}  // namespace kestrafin::scan::report
