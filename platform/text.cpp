#include "platform/text.h"

#include <cstdio>

namespace kestrafin::platform {

void append_code_point(std::string& out, char32_t point) {
    if (point < 0x80) {
        out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (point >> 6)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (point >> 12)));
        out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (point >> 18)));
        out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool is_lead_surrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_trail_surrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
constexpr std::u16string_view kDevicePrefix = u"\\\\.\\";
constexpr std::u16string_view kLongSharePrefix = u"\\\\?\\UNC\\";
constexpr std::u16string_view kSharePrefix = u"\\\\";

bool starts_with_ignoring_case(std::u16string_view text, std::u16string_view start) {
    if (text.size() < start.size()) return false;
    for (std::size_t i = 0; i < start.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
        if (unit != start[i]) return false;
    }
    return true;
}

}  // namespace

void append_utf8_from_utf16(std::string& out, std::u16string_view text) {
    out.reserve(out.size() + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (is_lead_surrogate(unit) && i + 1 < text.size() && is_trail_surrogate(text[i + 1])) {
            const char32_t trail = text[++i];
            append_code_point(out, 0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00));
        } else {
            append_code_point(out, unit);  // unpaired surrogates too
        }
    }
}

std::string utf8_from_utf16(std::u16string_view text) {
    std::string out;
    append_utf8_from_utf16(out, text);
    return out;
}

std::u16string utf16_from_utf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        const Utf8Sequence sequence = decode_utf8(text.substr(i));
        if (sequence.length == 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        if (sequence.code_point >= 0x10000) {
            const char32_t above = sequence.code_point - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (above >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (above & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(sequence.code_point));
        }
        i += sequence.length;
    }
    return out;
}

bool is_ascii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string ascii_upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

bool has_system_prefix(std::u16string_view path) {
    return path.starts_with(kLongPrefix) || path.starts_with(kDevicePrefix);
}

std::u16string with_long_path_prefix(std::u16string_view full_path) {
    if (has_system_prefix(full_path)) return std::u16string(full_path);
    std::u16string prefixed;
    if (full_path.starts_with(kSharePrefix)) {
        prefixed.reserve(kLongSharePrefix.size() + full_path.size());
        prefixed.append(kLongSharePrefix).append(full_path.substr(kSharePrefix.size()));
    } else {
        prefixed.reserve(kLongPrefix.size() + full_path.size());
        prefixed.append(kLongPrefix).append(full_path);
    }
    return prefixed;
}

std::u16string without_long_path_prefix(std::u16string_view path) {
    if (starts_with_ignoring_case(path, kLongSharePrefix))
        return std::u16string(kSharePrefix).append(path.substr(kLongSharePrefix.size()));
    if (path.starts_with(kLongPrefix)) return std::u16string(path.substr(kLongPrefix.size()));
    return std::u16string(path);
}

std::string file_uri(std::string_view path) {
    std::string uri = "file://";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~' || byte == '/';
        if (unreserved) {
            uri += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            uri += escaped;
        }
    }
    return uri;
}

}  // namespace kestrafin::platform
