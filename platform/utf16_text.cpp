#include "platform/utf16_text.h"

#include "platform/utf8_sequence.h"

namespace kestrafin::platform {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool is_lead_surrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool is_trail_surrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

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

}  // namespace kestrafin::platform
