#include "scan/rules/exclusions.h"

#include <algorithm>
#include <stdexcept>

#include "platform/path_rules.h"
#include "platform/text.h"
#include "search/path_text.h"

namespace kestrafin::scan {

namespace {

constexpr char kSeparator = platform::kPathSeparator;

// The length of the set at the start of `pattern` ("[" included), or 0 when
// it is not closed and the "[" stands for itself.
std::size_t set_length(std::string_view pattern) {
    std::size_t at = 1;
    if (at < pattern.size() && pattern[at] == '!') ++at;
    if (at < pattern.size() && pattern[at] == ']') ++at;  // a leading "]" is a member
    const std::size_t close = pattern.find(']', at);
    return close == std::string_view::npos ? 0 : close + 1;
}

// One character of a name: a UTF-8 sequence, as "?" takes it, or a byte that
// starts none, which stands for itself and lies past every code point.
struct Character {
    std::size_t length = 1;
    char32_t value = 0;
};

Character character_at(std::string_view text) {
    const std::size_t length = search::utf8_sequence_length(text);
    if (length == 0)
        return {1, static_cast<char32_t>(0x110000 + static_cast<unsigned char>(text[0]))};
    return {length, platform::decode_utf8(text).code_point};
}

bool in_set(std::string_view set, char32_t c) {
    std::string_view members = set.substr(1, set.size() - 2);
    const bool negated = !members.empty() && members[0] == '!';
    if (negated) members.remove_prefix(1);
    bool found = false;
    while (!members.empty() && !found) {
        const Character low = character_at(members);
        members.remove_prefix(low.length);
        if (members.size() >= 2 && members[0] == '-') {
            members.remove_prefix(1);
            const Character high = character_at(members);
            members.remove_prefix(high.length);
            found = c >= low.value && c <= high.value;
        } else {
            found = c == low.value;
        }
    }
    return found != negated;
}

// Matches one part of a path, which holds no separator.
bool part_matches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0;
    std::size_t star = std::string_view::npos, star_text = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = ++p;
            star_text = t;
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t set = pattern[p] == '[' ? set_length(pattern.substr(p)) : 0;
            if (pattern[p] == '?') {
                p += 1;
                t += character_at(text.substr(t)).length;
                continue;
            }
            if (set > 0) {
                const Character character = character_at(text.substr(t));
                if (in_set(pattern.substr(p, set), character.value)) {
                    p += set;
                    t += character.length;
                    continue;
                }
            }
            if (set == 0) {
                const Character wanted = character_at(pattern.substr(p));
                const Character found = character_at(text.substr(t));
                if (wanted.value == found.value) {
                    p += wanted.length;
                    t += found.length;
                    continue;
                }
            }
        }
        if (star == std::string_view::npos) return false;
        // Let the last "*" take one more character and try again from there.
        p = star;
        star_text += character_at(text.substr(star_text)).length;
        t = star_text;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::size_t parts_of(std::string_view path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), kSeparator)) + 1;
}

}  // namespace

bool glob_matches(std::string_view pattern, std::string_view text) {
    if (parts_of(pattern) != parts_of(text)) return false;
    while (true) {
        const std::size_t pattern_end = pattern.find(kSeparator);
        const std::size_t text_end = text.find(kSeparator);
        if (!part_matches(pattern.substr(0, pattern_end), text.substr(0, text_end))) return false;
        if (pattern_end == std::string_view::npos) return true;
        pattern.remove_prefix(pattern_end + 1);
        text.remove_prefix(text_end + 1);
    }
}

Exclusions::Exclusions(const std::vector<std::string>& patterns) {
    for (std::string pattern : patterns) {
        std::replace(pattern.begin(), pattern.end(), '/', kSeparator);
        const bool path = pattern.find(kSeparator) != std::string::npos;
        while (!pattern.empty() && pattern.front() == kSeparator) pattern.erase(0, 1);
        while (!pattern.empty() && pattern.back() == kSeparator) pattern.pop_back();
        if (pattern.empty())
            throw std::invalid_argument("--exclude needs a pattern that names something");
        if (path)
            paths_.push_back({pattern, parts_of(pattern)});
        else
            names_.push_back(pattern);
    }
}

bool Exclusions::excludes(std::string_view folder_below_root, std::string_view name) const {
    for (const std::string& pattern : names_)
        if (glob_matches(pattern, name)) return true;
    if (paths_.empty()) return false;
    const std::size_t parts = folder_below_root.empty() ? 1 : parts_of(folder_below_root) + 1;
    std::string path;
    for (const PathPattern& pattern : paths_) {
        if (pattern.parts != parts) continue;
        if (path.empty()) {
            path.assign(folder_below_root);
            if (!path.empty()) path.push_back(kSeparator);
            path.append(name);
        }
        if (glob_matches(pattern.glob, path)) return true;
    }
    return false;
}

}  // namespace kestrafin::scan
