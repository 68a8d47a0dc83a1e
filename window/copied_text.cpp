#include "window/copied_text.h"

#include "platform/text.h"

namespace kestrafin::window {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Appends `path` as valid UTF-8; true when a byte had to be replaced.
bool append_valid(std::string& text, std::string_view path) {
    bool altered = false;
    std::size_t at = 0;
    while (at < path.size()) {
        const platform::Utf8Sequence sequence = platform::decode_utf8(path.substr(at));
        if (sequence.length == 0 || sequence.is_surrogate()) {
            text += kReplacement;
            altered = true;
            at += sequence.length == 0 ? 1 : sequence.length;
        } else {
            text += path.substr(at, sequence.length);
            at += sequence.length;
        }
    }
    return altered;
}

}  // namespace

CopiedText copied_paths(
    const std::function<void(const std::function<void(std::string_view)>&)>& each_path,
    PathFormat format) {
    CopiedText copied;
    bool first = true;
    each_path([&](std::string_view path) {
        if (!first && format != PathFormat::nul_ended) copied.text += '\n';
        first = false;
        bool altered = false;
        if (format == PathFormat::quoted) {
            copied.text += '"';
            for (std::size_t start = 0;;) {
                const std::size_t quote = path.find('"', start);
                altered |= append_valid(copied.text, path.substr(start, quote - start));
                if (quote == std::string_view::npos) break;
                copied.text += "\"\"";
                start = quote + 1;
            }
            copied.text += '"';
        } else {
            altered = append_valid(copied.text, path);
        }
        if (format == PathFormat::nul_ended) copied.text += '\0';
        if (altered) ++copied.altered_paths;
    });
    return copied;
}

std::string altered_paths_note(std::size_t altered) {
    if (altered == 0) return {};
    return (altered == 1 ? std::string("One copied path holds")
                         : std::to_string(altered) + " copied paths hold") +
           " bytes that are no text; they were copied as the replacement character \xEF\xBF\xBD, "
           "so " +
           (altered == 1 ? "it does" : "they do") + " not name the file exactly.";
}

}  // namespace kestrafin::window
