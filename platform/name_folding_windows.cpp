#include <windows.h>

#include <algorithm>
#include <iterator>

#include "platform/name_folding.h"
#include "platform/text.h"

namespace kestrafin::platform::host {

namespace {

struct UpperCase {
    char32_t from;
    char32_t to;
};

// Made at build time from the build machine's utf8proc by
// windows/make_case_table.c, sorted by `from`: the case data the Linux build
// links, so that both hosts fold names alike.
constexpr UpperCase kUpperCase[] = {
#include "simple_upper_case.inc"
};

}  // namespace

char32_t simple_upper_case(char32_t point) {
    const auto found = std::lower_bound(
        std::begin(kUpperCase), std::end(kUpperCase), point,
        [](const UpperCase& entry, char32_t wanted) { return entry.from < wanted; });
    return found != std::end(kUpperCase) && found->from == point ? found->to : point;
}

std::optional<std::string> composed_form(std::string_view text) {
    const std::u16string wide = utf16_from_utf8(text);
    const std::wstring source(wide.begin(), wide.end());
    const int source_length = static_cast<int>(source.size());
    // The first size is an estimate; a short buffer gives the better one, negated.
    int size = NormalizeString(NormalizationC, source.c_str(), source_length, nullptr, 0);
    for (int attempt = 0; attempt < 8 && size > 0; ++attempt) {
        std::wstring result(static_cast<std::size_t>(size), L'\0');
        const int written =
            NormalizeString(NormalizationC, source.c_str(), source_length, result.data(), size);
        if (written > 0) {
            result.resize(static_cast<std::size_t>(written));
            return utf8_from_utf16(std::u16string(result.begin(), result.end()));
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
        size = -written;
    }
    return std::nullopt;
}

}  // namespace kestrafin::platform::host
