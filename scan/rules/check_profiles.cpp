#include "scan/rules/check_profiles.h"

#include <algorithm>

#include "search/path_text.h"

namespace kestrafin::scan {

namespace {

char lower_ascii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_ascii_case(std::string_view text, std::string_view lower) {
    return text.size() == lower.size() &&
           std::equal(text.begin(), text.end(), lower.begin(),
                      [](char a, char b) { return lower_ascii(a) == b; });
}

bool holds_ignoring_ascii_case(std::string_view text, std::string_view lower) {
    return std::search(text.begin(), text.end(), lower.begin(), lower.end(),
                       [](char a, char b) { return lower_ascii(a) == b; }) != text.end();
}

// Windows takes the part before the first period, blanks at its end left
// out, as the device: "con.txt" and "NUL .tar.gz" are devices too.
bool is_device_name(std::string_view name) {
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

bool is_service_name(std::string_view name, bool folder_in_root) {
    return equal_ignoring_ascii_case(name, ".lock") ||
           equal_ignoring_ascii_case(name, "desktop.ini") || name.starts_with("~$") ||
           holds_ignoring_ascii_case(name, "_vti_") ||
           (folder_in_root && equal_ignoring_ascii_case(name, "forms"));
}

}  // namespace

const CheckProfile* find_check_profile(std::string_view name) {
    for (const CheckProfile& profile : kCheckProfiles)
        if (profile.name == name) return &profile;
    return nullptr;
}

NameRules::NameRules(std::span<const CheckProfile* const> profiles) {
    for (const CheckProfile* profile : profiles) {
        for (const char c : profile->invalid_characters)
            invalid_[static_cast<unsigned char>(c)] = true;
        if (profile->control_characters)
            for (unsigned char c = 1; c < 32; ++c) invalid_[c] = true;
        for (const char c : profile->trailing_characters)
            trailing_[static_cast<unsigned char>(c)] = true;
        if (profile->name_longer_than)
            name_longer_than_ = std::min(name_longer_than_.value_or(*profile->name_longer_than),
                                         *profile->name_longer_than);
        device_names_ |= profile->device_names;
        service_names_ |= profile->service_names;
        leading_space_ |= profile->leading_space;
        const auto compare_by = [&](platform::NameComparison comparison) {
            if (std::find(collision_comparisons_.begin(), collision_comparisons_.end(),
                          comparison) == collision_comparisons_.end())
                collision_comparisons_.push_back(comparison);
        };
        if (profile->case_collisions) compare_by(platform::NameComparison::case_only);
        if (profile->composed_case_collisions) compare_by(platform::NameComparison::composed_case);
        any_ = true;
    }
}

Reasons NameRules::judge(std::string_view name, bool folder_in_root) const {
    Reasons reasons;
    if (name.empty()) return reasons;
    for (const char c : name)
        if (invalid_[static_cast<unsigned char>(c)]) {
            reasons.add(Reason::invalid_character);
            break;
        }
    if (trailing_[static_cast<unsigned char>(name.back())])
        reasons.add(Reason::trailing_space_or_period);
    if (leading_space_ && name.front() == ' ') reasons.add(Reason::leading_space);
    // A name never has more UTF-16 units than bytes.
    if (name_longer_than_ && name.size() > *name_longer_than_ &&
        search::utf16_length(name) > *name_longer_than_)
        reasons.add(Reason::name_length);
    if ((device_names_ && is_device_name(name)) ||
        (service_names_ && is_service_name(name, folder_in_root)))
        reasons.add(Reason::reserved_name);
    return reasons;
}

}  // namespace kestrafin::scan
