// reserved_name: a name the destination keeps for itself. Every profile
// refuses the device names CON, PRN, AUX, NUL, COM0-COM9 and LPT0-LPT9 (and
// COM or LPT with a superscript digit), alone or before an extension;
// sharepoint and onedrive also the names the service keeps: ".lock",
// "desktop.ini", names starting with "~$" or holding "_vti_", and a folder
// "forms" in the library's root. Both are compared without regard to ASCII
// case.
#pragma once

#include <algorithm>

#include "scan/rules/rule.h"

namespace kestrafin::scan {

namespace reserved_names {

struct Kept {
    bool devices = false;
    bool service = false;
};

inline constexpr ProfileUse<Kept> kUses[] = {
    {Profile::windows, {.devices = true, .service = false}},
    {Profile::sharepoint, {.devices = true, .service = true}},
    {Profile::onedrive, {.devices = true, .service = true}},
};

inline char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool equal_ignoring_ascii_case(std::string_view text, std::string_view lower) {
    return text.size() == lower.size() &&
           std::equal(text.begin(), text.end(), lower.begin(),
                      [](char a, char b) { return lower_ascii(a) == b; });
}

// `lower` starts with a byte that has no case: each place holding it is a
// place to compare at, found fast.
inline bool holds_ignoring_ascii_case(std::string_view text, std::string_view lower) {
    for (std::size_t at = text.find(lower.front()); at != std::string_view::npos;
         at = text.find(lower.front(), at + 1))
        if (equal_ignoring_ascii_case(text.substr(at, lower.size()), lower)) return true;
    return false;
}

// Windows takes the part before the first period, blanks at its end left
// out, as the device: "con.txt" and "NUL .tar.gz" are devices too.
inline bool is_device_name(std::string_view name, bool /*folder_in_root*/) {
    // Most names are told apart by their first letter.
    const char first = name.empty() ? '\0' : lower_ascii(name.front());
    if (first != 'c' && first != 'p' && first != 'a' && first != 'n' && first != 'l') return false;
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    if (stem.size() == 3)
        return equal_ignoring_ascii_case(stem, "con") || equal_ignoring_ascii_case(stem, "prn") ||
               equal_ignoring_ascii_case(stem, "aux") || equal_ignoring_ascii_case(stem, "nul");
    if (stem.size() < 4 || stem.size() > 5) return false;
    const std::string_view port = stem.substr(0, 3);
    if (!equal_ignoring_ascii_case(port, "com") && !equal_ignoring_ascii_case(port, "lpt"))
        return false;
    const std::string_view digit = stem.substr(3);
    // The superscripts one, two and three in UTF-8.
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

inline bool is_service_name(std::string_view name, bool folder_in_root) {
    return equal_ignoring_ascii_case(name, ".lock") ||
           equal_ignoring_ascii_case(name, "desktop.ini") || name.starts_with("~$") ||
           holds_ignoring_ascii_case(name, "_vti_") ||
           (folder_in_root && equal_ignoring_ascii_case(name, "forms"));
}

}  // namespace reserved_names

inline constexpr Rule kReservedNameRule{
    .code = "reserved_name",
    .judges = JudgesEachName{.set_up = [](ProfileSet chosen, NameTests& tests) {
        reserved_names::Kept kept;
        each_chosen(reserved_names::kUses, chosen, [&](reserved_names::Kept use) {
            kept.devices |= use.devices;
            kept.service |= use.service;
        });
        if (kept.devices) tests.refuse_when(reserved_names::is_device_name);
        if (kept.service) tests.refuse_when(reserved_names::is_service_name);
    }}};

}  // namespace kestrafin::scan
