#include "search/path_text.h"

#include "platform/path_rules.h"
#include "platform/text.h"

namespace kestrafin::search {

std::string addslash(std::string_view path) {
    std::string slashed(path);
    if (slashed.empty() || slashed.back() != platform::kPathSeparator)
        slashed.push_back(platform::kPathSeparator);
    return slashed;
}

std::size_t utf8_sequence_length(std::string_view text) {
    const platform::Utf8Sequence sequence = platform::decode_utf8(text);
    return sequence.is_surrogate() ? 0 : sequence.length;
}

std::size_t utf16_length(std::string_view text) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++units;
            ++i;
            continue;
        }
        // As the text converts to UTF-16: an encoded surrogate is the one unit
        // it stands for, each byte that starts no sequence one replacement.
        const platform::Utf8Sequence sequence = platform::decode_utf8(text.substr(i));
        if (sequence.length == 0) {
            ++units;
            ++i;
        } else {
            units += sequence.code_point >= 0x10000 ? 2 : 1;
            i += sequence.length;
        }
    }
    return units;
}

std::size_t destination_length(std::string_view path) {
    // The prefix is the system's, which lifts the limit; the destination
    // counts the path it names.
    if (platform::kPathSeparator == '\\' && path.starts_with("\\\\?\\"))
        return platform::without_long_path_prefix(platform::utf16_from_utf8(path)).size();
    return utf16_length(path);
}

}  // namespace kestrafin::search
