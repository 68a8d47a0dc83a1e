#include "platform/utf16_text.h"

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

// The length of the sequence starting `text` and the range its second byte
// must lie in; 0 for a byte that starts no sequence. Encoded surrogates
// (0xED 0xA0..0xBF) are accepted, as WTF-8 holds them.
struct SequenceShape {
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
};

SequenceShape shape_of(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {2};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead >= 0xE1 && lead <= 0xEF) return {3};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {};
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
        const SequenceShape shape = shape_of(lead);
        bool valid = shape.length != 0 && i + shape.length <= text.size();
        for (std::size_t k = 1; valid && k < shape.length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            const unsigned char low = k == 1 ? shape.low : 0x80;
            const unsigned char high = k == 1 ? shape.high : 0xBF;
            valid = byte >= low && byte <= high;
        }
        if (!valid) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        char32_t point = lead & (0x7F >> shape.length);
        for (std::size_t k = 1; k < shape.length; ++k)
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (point >= 0x10000) {
            point -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(point));
        }
        i += shape.length;
    }
    return out;
}

}  // namespace kestrafin::platform
