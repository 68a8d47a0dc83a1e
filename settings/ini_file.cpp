#include "settings/ini_file.h"

#include <stdexcept>
#include <string_view>
#include <system_error>

#include "platform/files.h"

namespace Kestrafin_Lib {

namespace {

constexpr std::string_view kWhat = "settings file";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kEndMarker = "[]";
// Editors on Windows put it before the first line when they save UTF-8; it is
// no part of that line, and a write keeps it where it was.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Lower case of ASCII letters only, so that the copy has the text's length and
// a position found in one is valid in the other.
std::string lowered(std::string_view text) {
    std::string copy(text);
    for (char& c : copy) c = lower(c);
    return copy;
}

// prefix + text + suffix in one allocation.
std::string enclosed(std::string_view prefix, std::string_view text, std::string_view suffix) {
    std::string out;
    out.reserve(prefix.size() + text.size() + suffix.size());
    out.append(prefix).append(text).append(suffix);
    return out;
}

bool starts_with_lowered(std::string_view line, std::string_view lowered_prefix) {
    if (line.size() < lowered_prefix.size()) return false;
    for (std::size_t i = 0; i < lowered_prefix.size(); ++i)
        if (lower(line[i]) != lowered_prefix[i]) return false;
    return true;
}

bool is_control(char c) {
    return static_cast<unsigned char>(c) <= 13;
}

enum class Purpose { Reading, Writing };

std::string prepared_text(const std::string& file_name, Purpose purpose) {
    kestrafin::platform::ensure_file_exists(file_name, kWhat);
    try {
        kestrafin::platform::make_writable(file_name, kWhat);
    } catch (const std::system_error&) {
        // A settings file installed read-only for this user can still be read.
        if (purpose == Purpose::Writing) throw;
    }
    return kestrafin::platform::read_file(file_name, kWhat);
}

void refuse_line_breaks(std::string_view role, const std::string& text,
                        const std::string& file_name) {
    if (text.find_first_of("\r\n") != std::string::npos)
        throw std::invalid_argument("cannot store a " + std::string(role) +
                                    " that holds a line break in settings file '" + file_name +
                                    "'");
}

// Shrinks every run of three or more CR LF pairs to two, in one pass.
std::string collapse_blank_line_runs(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 2, kCrLf) != 0) {
            out.push_back(text[i++]);
            continue;
        }
        std::size_t pairs = 0;
        while (text.compare(i, 2, kCrLf) == 0) {
            ++pairs;
            i += 2;
        }
        for (std::size_t p = 0; p < std::min<std::size_t>(pairs, 2); ++p) out.append(kCrLf);
    }
    return out;
}

std::string_view trim_control_characters(std::string_view text) {
    while (!text.empty() && is_control(text.back())) text.remove_suffix(1);
    while (!text.empty() && is_control(text.front())) text.remove_prefix(1);
    return text;
}

// True where readini starts a line: after CR LF or after a lone CR. A lone
// LF stays inside its line.
bool starts_line(std::string_view text, std::size_t at) {
    if (at == 0) return false;  // the working text always starts with CR LF
    if (text[at - 1] == '\r') return true;
    return text[at - 1] == '\n' && at >= 2 && text[at - 2] == '\r';
}

// The first position at or after `from` where `needle` starts a line.
std::size_t find_at_line_start(std::string_view text, std::string_view needle, std::size_t from) {
    for (std::size_t at = text.find(needle, from); at != std::string_view::npos;
         at = text.find(needle, at + 1))
        if (starts_line(text, at)) return at;
    return std::string_view::npos;
}

std::string_view head(std::string_view text, std::size_t count) {
    return text.substr(0, std::min(count, text.size()));
}

std::string_view tail_from(std::string_view text, std::size_t from) {
    return from < text.size() ? text.substr(from) : std::string_view{};
}

}  // namespace

std::string readini(const std::string& file_name, const std::string& section,
                    const std::string& key) {
    const std::string header = enclosed("[", lowered(section), "]");
    const std::string key_prefix = enclosed("", lowered(key), "=");
    const bool key_may_match = key_prefix.find('[') == std::string::npos;
    const std::string text = prepared_text(file_name, Purpose::Reading);
    std::string_view all(text);
    if (all.starts_with(kByteOrderMark)) all.remove_prefix(kByteOrderMark.size());

    bool in_section = false;
    std::size_t start = 0;
    while (start < all.size()) {
        // A line ends at CR LF or at a lone CR; a lone LF stays in the line.
        std::size_t end = all.find('\r', start);
        if (end == std::string_view::npos) end = all.size();
        const std::string_view line = all.substr(start, end - start);
        start = end + 1;
        if (start < all.size() && all[start] == '\n' && end < all.size()) ++start;

        // The key line counts whatever its value holds, so a value with "["
        // does not end the section.
        if (in_section && key_may_match && starts_with_lowered(line, key_prefix))
            return std::string(line.substr(key_prefix.size()));
        if (line.find('[') != std::string_view::npos)
            in_section = line.size() == header.size() && starts_with_lowered(line, header);
    }
    return {};
}

void writeini(const std::string& file_name, const std::string& section, const std::string& key,
              const std::string& value) {
    refuse_line_breaks("section name", section, file_name);
    refuse_line_breaks("key", key, file_name);
    refuse_line_breaks("value", value, file_name);
    if (!value.empty() && is_control(value.back()))
        throw std::invalid_argument(
            "cannot store a value that ends in a control character in settings file '" + file_name +
            "'");

    // The header line ends at its CR, whether an LF follows or not.
    const std::string header_search = enclosed("[", lowered(section), "]\r");
    const std::string key_search = enclosed("", lowered(key), "=");
    const std::string key_line = enclosed(key, "=", value);

    std::string working;
    bool marked = false;
    {
        const std::string read = prepared_text(file_name, Purpose::Writing);
        std::string_view text(read);
        marked = text.starts_with(kByteOrderMark);
        if (marked) text.remove_prefix(kByteOrderMark.size());
        working.reserve(text.size() + key_line.size() + section.size() + 16);
        working.append(kCrLf).append(text).append(kEndMarker);
    }
    const std::string lower_copy = lowered(working);

    std::string edited;
    const std::size_t header_start = find_at_line_start(lower_copy, header_search, 0);
    if (header_start == std::string::npos) {
        working.resize(working.size() - kEndMarker.size());
        edited = std::move(working);
        edited.append("\r\n\r\n[").append(section).append("]\r\n").append(key_line);
    } else {
        const std::size_t header_end = header_start + header_search.size();  // after its CR
        const std::size_t body_start = lower_copy[header_end] == '\n' ? header_end + 1 : header_end;
        // The first line holding a "[" ends the section; the end marker always does.
        const std::size_t section_end = lower_copy.find('[', header_end);
        const std::size_t key_line_start = find_at_line_start(lower_copy, key_search, header_end);
        working.resize(working.size() - kEndMarker.size());
        const std::string_view w(working);
        if (key_line_start == std::string::npos || key_line_start > section_end) {
            // The new key line becomes the first line of the section.
            edited.append(head(w, body_start)).append(key_line).append(kCrLf);
            edited.append(tail_from(w, body_start));
        } else {
            // Replace the old key line up to its line break; a key line at the
            // very end of the text runs to that end.
            const std::size_t key_line_end = w.find('\r', key_line_start);
            edited.append(head(w, key_line_start)).append(key_line);
            if (key_line_end != std::string_view::npos) edited.append(w.substr(key_line_end));
        }
    }

    std::string tidy = collapse_blank_line_runs(std::string_view(edited).substr(1));
    std::string content(marked ? kByteOrderMark : std::string_view{});
    content.append(trim_control_characters(tidy)).append(kCrLf);
    kestrafin::platform::replace_file(file_name, content, kWhat);
}

}  // namespace Kestrafin_Lib
