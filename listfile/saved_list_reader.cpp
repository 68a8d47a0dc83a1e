#include "listfile/saved_list_reader.h"

#include <algorithm>

namespace kestrafin::listfile {

namespace {

bool is_line_end(char c) {
    return c == '\r' || c == '\n';
}

// The first comma or line end at or after `from`, or the size of `bytes`.
std::size_t separator_at_or_after(std::string_view bytes, std::size_t from) {
    while (from < bytes.size() && bytes[from] != ',' && !is_line_end(bytes[from])) ++from;
    return from;
}

// Whether the separator found at `end` is known whole: a CR at the very end
// may be the first half of a CR LF still to come.
bool separator_complete(std::string_view bytes, std::size_t end, bool at_end) {
    if (at_end) return true;
    if (end >= bytes.size()) return false;
    return !(bytes[end] == '\r' && end + 1 == bytes.size());
}

// The position after the separator at `at`, if one stands there.
std::size_t past_separator(std::string_view bytes, std::size_t at) {
    if (at >= bytes.size()) return at;
    if (bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n') return at + 2;
    return at + 1;
}

}  // namespace

std::size_t read_complete_records(std::string_view bytes, bool at_end,
                                  const std::function<void(std::string_view)>& add) {
    std::string unquoted;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes[at] != '"') {
            const std::size_t end = separator_at_or_after(bytes, at);
            if (!separator_complete(bytes, end, at_end)) break;
            add(bytes.substr(at, end - at));
            at = past_separator(bytes, end);
            continue;
        }
        // A quoted field: find its closing quote, reading a doubled quote as one.
        std::size_t close = bytes.find('"', at + 1);
        bool doubled = false;
        while (close != std::string_view::npos && close + 1 < bytes.size() &&
               bytes[close + 1] == '"') {
            doubled = true;
            close = bytes.find('"', close + 2);
        }
        if (!at_end && (close == std::string_view::npos || close + 1 == bytes.size())) break;
        const std::size_t text_end = close == std::string_view::npos ? bytes.size() : close;
        const std::size_t end =
            separator_at_or_after(bytes, close == std::string_view::npos ? text_end : close + 1);
        if (!separator_complete(bytes, end, at_end)) break;
        const std::string_view text = bytes.substr(at + 1, text_end - (at + 1));
        if (!doubled) {
            add(text);
        } else {
            unquoted.clear();
            for (std::size_t i = 0; i < text.size(); ++i) {
                unquoted.push_back(text[i]);
                if (text[i] == '"') ++i;  // the second quote of a doubled pair
            }
            add(unquoted);
        }
        at = past_separator(bytes, end);
    }
    return at;
}

SavedListReader::SavedListReader(const std::string& path, std::size_t piece_size)
    : file_(path, "saved list file"), piece_size_(piece_size == 0 ? 1 : piece_size) {}

void SavedListReader::read_all(const std::function<void(std::string_view)>& add) {
    const unsigned code_page = platform::stored_text_code_page();
    if (code_page == 0) {
        read_bytes(0, add);
        return;
    }
    // The file's form is known only once it has been read to its end: a
    // first reading learns it, the second converts each text.
    bool marked = false;
    bool first_piece = true;
    platform::Utf8Check utf8;
    read_pieces([&](std::string_view piece) {
        if (first_piece) marked = piece.starts_with(platform::kByteOrderMark);
        first_piece = false;
        if (!marked) utf8.add(piece);
        return !marked && !utf8.failed();
    });
    file_.rewind();
    const platform::StoredForm form = platform::form_to_read(marked, utf8.valid(), code_page);
    std::string text;
    read_bytes(marked ? platform::kByteOrderMark.size() : 0, [&](std::string_view field) {
        text.clear();
        platform::append_program_text(text, field, form);
        add(text);
    });
}

void SavedListReader::read_pieces(const std::function<bool(std::string_view)>& each) {
    std::string piece(std::max<std::size_t>(piece_size_, platform::kByteOrderMark.size()), '\0');
    for (;;) {
        std::size_t filled = 0;
        while (filled < piece.size()) {
            const std::size_t got = file_.read(piece.data() + filled, piece.size() - filled);
            if (got == 0) break;
            filled += got;
        }
        if (filled == 0 || !each(std::string_view(piece).substr(0, filled))) return;
        if (filled < piece.size()) return;
    }
}

void SavedListReader::read_bytes(std::size_t skip,
                                 const std::function<void(std::string_view)>& add) {
    std::string buffer(skip, '\0');
    for (std::size_t got = 0; got < skip;) {
        const std::size_t more = file_.read(buffer.data() + got, skip - got);
        if (more == 0) return;
        got += more;
    }
    std::size_t unread_from = skip;
    for (;;) {
        // Keep only what is still unread before reading the next piece. A
        // field still unfinished is parsed again from its start, so the
        // next piece is at least as large as what is kept: a field of any
        // length then costs time in proportion to its length.
        buffer.erase(0, unread_from);
        const std::size_t kept = buffer.size();
        const std::size_t piece = std::max(piece_size_, kept);
        buffer.resize(kept + piece);
        std::size_t filled = 0;
        bool at_end = false;
        while (filled < piece && !at_end) {
            const std::size_t got = file_.read(buffer.data() + kept + filled, piece - filled);
            filled += got;
            at_end = got == 0;
        }
        buffer.resize(kept + filled);
        unread_from = read_complete_records(buffer, at_end, add);
        if (at_end) return;
    }
}

}  // namespace kestrafin::listfile
