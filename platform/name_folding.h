// How a destination that ignores case, and perhaps the Unicode form of names,
// sees a name: Windows, OneDrive and SharePoint take "Report.docx" and
// "REPORT.DOCX" for one name. Both hosts fold from the same data (utf8proc's
// simple case mapping), so they find the same names equal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrafin::platform {

enum class NameComparison {
    // NTFS: each UTF-16 unit by the volume's upcase table, which holds
    // Unicode's simple upper case of the basic plane; no normalization, so "é"
    // composed and "e" with a combining accent are two names.
    case_only,
    // SharePoint and OneDrive in the service: the composed form (NFC), then
    // each character's simple upper case.
    composed_case,
};

// The key under which such a destination compares `name` (UTF-8): two names
// are one name there exactly when their keys are equal. "ß" keeps its case,
// as Unicode gives it no simple upper case. A name that is no valid UTF-8
// counts as it is, ASCII letters aside. Safe to call from any thread.
std::string name_comparison_key(std::string_view name, NameComparison comparison);

// What each host gives the folding above (name_folding_linux.cpp,
// name_folding_windows.cpp).
namespace host {

// utf8proc's simple upper case of `point`, a character or a surrogate.
char32_t simple_upper_case(char32_t point);

// `text` (valid UTF-8 without encoded surrogates) in its composed form (NFC);
// none when the host cannot compose it.
std::optional<std::string> composed_form(std::string_view text);

}  // namespace host

}  // namespace kestrafin::platform
