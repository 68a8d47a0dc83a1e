#include "platform/name_folding.h"

#include "platform/text.h"

namespace kestrafin::platform {

namespace {

// utf8proc maps ß to ẞ, which UnicodeData does not: ß has no simple upper
// case, and NTFS's table keeps it.
char32_t upper_of(char32_t point, NameComparison comparison) {
    if (point == 0xDF) return point;
    const char32_t upper = host::simple_upper_case(point);
    // NTFS's table has one entry per UTF-16 unit: characters past the basic
    // plane, and mappings that would leave it, keep their case.
    if (comparison == NameComparison::case_only && (point > 0xFFFF || upper > 0xFFFF)) return point;
    return upper;
}

}  // namespace

std::string name_comparison_key(std::string_view name, NameComparison comparison) {
    // ASCII is its own composed form: most names never reach the tables.
    if (is_ascii(name)) return ascii_upper(name);
    bool surrogates = false;
    for (std::size_t at = 0; at < name.size();) {
        const Utf8Sequence sequence = decode_utf8(name.substr(at));
        if (sequence.length == 0) return ascii_upper(name);
        surrogates |= sequence.is_surrogate();
        at += sequence.length;
    }
    std::string composed;
    std::string_view text = name;
    if (comparison == NameComparison::composed_case) {
        // Unpaired surrogates have no composed form: such names are compared
        // as they are, as the service cannot take them anyway.
        std::optional<std::string> form = surrogates ? std::nullopt : host::composed_form(name);
        if (!form) return ascii_upper(name);
        composed = std::move(*form);
        text = composed;
    }
    std::string key;
    key.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Sequence sequence = decode_utf8(text.substr(at));
        append_code_point(key, upper_of(sequence.code_point, comparison));
        at += sequence.length;
    }
    return key;
}

}  // namespace kestrafin::platform
