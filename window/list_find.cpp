#include "window/list_find.h"

#include <algorithm>

#include "platform/name_folding.h"

namespace kestrafin::window {
namespace {

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

char ascii_upper(char byte) {
    return byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - 32) : byte;
}

std::string comparison_key(std::string_view text) {
    return platform::name_comparison_key(text, platform::NameComparison::case_only);
}

// How many rows are looked at between two looks at the stop flag.
constexpr std::size_t kRowsBetweenStops = 4096;

}  // namespace

PathMatcher::PathMatcher(std::string_view text)
    : key_(comparison_key(text)), ascii_(is_ascii(text)) {}

bool PathMatcher::matches(std::string_view path) const {
    // A path with other characters may fold to ASCII ("ſ" to "S"), so it is
    // folded whole.
    if (!ascii_ || !is_ascii(path)) return comparison_key(path).find(key_) != std::string::npos;
    return std::search(path.begin(), path.end(), key_.begin(), key_.end(),
                       [](char a, char b) { return ascii_upper(a) == b; }) != path.end();
}

std::optional<std::size_t> find_row(const EntryStore& store, std::size_t rows,
                                    const PathMatcher& matcher, std::optional<std::size_t> current,
                                    bool backwards, const std::atomic<bool>& stop) {
    if (rows == 0) return std::nullopt;
    std::size_t row = 0;
    if (current && *current < rows)
        row = backwards ? (*current + rows - 1) % rows : (*current + 1) % rows;
    else if (backwards)
        row = rows - 1;
    for (std::size_t looked = 0; looked < rows; ++looked) {
        if (looked % kRowsBetweenStops == kRowsBetweenStops - 1 && stop.load()) return std::nullopt;
        if (matcher.matches(store.text(row))) return row;
        row = backwards ? (row + rows - 1) % rows : (row + 1) % rows;
    }
    return std::nullopt;
}

}  // namespace kestrafin::window
