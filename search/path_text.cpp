#include "search/path_text.h"

#include "platform/path_rules.h"

namespace kestrafin::search {

std::string addslash(std::string_view path) {
    std::string slashed(path);
    if (slashed.empty() || slashed.back() != platform::kPathSeparator)
        slashed.push_back(platform::kPathSeparator);
    return slashed;
}

std::string_view stripnulls(std::string_view text) {
    const auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

namespace {

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view text) {
    if (text.empty()) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!is_continuation(byte(i))) return 0;
    return length;
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
        const std::size_t length = utf8_sequence_length(text.substr(i));
        if (length == 0) {
            ++units;
            ++i;
        } else {
            units += length == 4 ? 2 : 1;
            i += length;
        }
    }
    return units;
}

}  // namespace kestrafin::search
