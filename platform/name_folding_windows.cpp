#include <windows.h>

#include "platform/name_folding.h"
#include "platform/text.h"

namespace kestrafin::platform {

namespace {

// The system's own forms: what NTFS and the shell use, so the key agrees
// with the machine the files land on.
std::wstring composed(const std::wstring& text) {
    const int needed =
        NormalizeString(NormalizationC, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    if (needed <= 0) return {};
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    const int written = NormalizeString(NormalizationC, text.c_str(), static_cast<int>(text.size()),
                                        result.data(), needed);
    if (written <= 0) return {};
    result.resize(static_cast<std::size_t>(written));
    return result;
}

std::wstring upper(const std::wstring& text) {
    std::wstring result(text.size(), L'\0');
    const int written = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, text.c_str(),
                                      static_cast<int>(text.size()), result.data(),
                                      static_cast<int>(result.size()), nullptr, nullptr, 0);
    if (written <= 0) return {};
    result.resize(static_cast<std::size_t>(written));
    return result;
}

}  // namespace

std::string name_comparison_key(std::string_view name) {
    if (is_ascii(name)) return ascii_upper(name);
    const std::u16string wide = utf16_from_utf8(name);
    // Stray bytes would all become U+FFFD: such names count as they are.
    if (utf8_from_utf16(wide) != name) return ascii_upper(name);
    const std::wstring text(wide.begin(), wide.end());
    const std::wstring key = upper(composed(text));
    // The system refuses names with unpaired surrogates: compared as they are.
    if (key.empty()) return ascii_upper(name);
    return utf8_from_utf16(std::u16string(key.begin(), key.end()));
}

}  // namespace kestrafin::platform
