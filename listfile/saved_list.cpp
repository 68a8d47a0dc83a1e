#include "listfile/saved_list.h"

namespace kestrafin::listfile {

namespace {

constexpr std::string_view kWhat = "saved list file";

bool is_line_end(char c) {
    return c == '\r' || c == '\n';
}

// Moves `at` past one separator (a comma, CR LF, CR or LF) if one stands there.
void skip_separator(std::string_view bytes, std::size_t& at) {
    if (at >= bytes.size()) return;
    if (bytes[at] == ',') {
        ++at;
    } else if (bytes[at] == '\r') {
        ++at;
        if (at < bytes.size() && bytes[at] == '\n') ++at;
    } else if (bytes[at] == '\n') {
        ++at;
    }
}

}  // namespace

void append_record(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t from = 0;
    for (;;) {
        const std::size_t quote = text.find('"', from);
        if (quote == std::string_view::npos) break;
        out.append(text.substr(from, quote + 1 - from)).push_back('"');
        from = quote + 1;
    }
    out.append(text.substr(from)).append("\"\r\n");
}

void read_records(std::string_view bytes, const std::function<void(std::string_view)>& add) {
    std::string unquoted;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes[at] != '"') {
            std::size_t end = at;
            while (end < bytes.size() && bytes[end] != ',' && !is_line_end(bytes[end])) ++end;
            add(bytes.substr(at, end - at));
            at = end;
            skip_separator(bytes, at);
            continue;
        }
        ++at;
        std::size_t close = bytes.find('"', at);
        if (close == std::string_view::npos || close + 1 >= bytes.size() ||
            bytes[close + 1] != '"') {
            // The common case: no doubled quote, so the text is a slice of the file.
            if (close == std::string_view::npos) close = bytes.size();
            add(bytes.substr(at, close - at));
            at = close + 1;
        } else {
            unquoted.clear();
            while (close != std::string_view::npos && close + 1 < bytes.size() &&
                   bytes[close + 1] == '"') {
                unquoted.append(bytes.substr(at, close + 1 - at));
                at = close + 2;
                close = bytes.find('"', at);
            }
            if (close == std::string_view::npos) close = bytes.size();
            unquoted.append(bytes.substr(at, close - at));
            add(unquoted);
            at = close + 1;
        }
        while (at < bytes.size() && bytes[at] != ',' && !is_line_end(bytes[at])) ++at;
        skip_separator(bytes, at);
    }
}

// A saved list marked read-only is left alone, as the user asked.
SavedListWriter::SavedListWriter(const std::string& path)
    : file_((platform::refuse_read_only_file(path, kWhat), path), kWhat) {}

void SavedListWriter::add(std::string_view text) {
    record_.clear();
    append_record(record_, text);
    file_.write(record_);
}

void load_list(const std::string& path, const std::function<void(std::string_view)>& add) {
    const std::string bytes = platform::read_file(path, kWhat);
    read_records(bytes, add);
}

void save_list(const std::string& path,
               const std::function<void(const std::function<void(std::string_view)>&)>& texts) {
    SavedListWriter writer(path);
    texts([&](std::string_view text) { writer.add(text); });
    writer.commit();
}

}  // namespace kestrafin::listfile
