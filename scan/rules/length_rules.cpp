#include "scan/rules/length_rules.h"

#include <algorithm>

#include "platform/path_rules.h"
#include "search/path_text.h"

namespace kestrafin::scan {

namespace {

constexpr char kHostSeparator = platform::kPathSeparator;

bool is_ascii_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Where the host part of a URL starts ("scheme://host..."), or npos when
// `text` is no URL.
std::size_t authority_start(std::string_view text) {
    const std::size_t colon = text.find("://");
    // One letter before the colon is a drive ("C://data"), not a scheme.
    if (colon == std::string_view::npos || colon < 2 || !is_ascii_letter(text[0]))
        return std::string_view::npos;
    for (const char c : text.substr(0, colon))
        if (!is_ascii_letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.')
            return std::string_view::npos;
    return colon + 3;
}

bool looks_like_windows(std::string_view text) {
    const bool drive = text.size() >= 2 && is_ascii_letter(text[0]) && text[1] == ':';
    return drive || text.find('\\') != std::string_view::npos;
}

// A Windows path accepts either slash as its separator.
bool ends_with_separator(std::string_view text, char separator) {
    if (text.empty()) return false;
    return text.back() == separator || (separator == '\\' && text.back() == '/');
}

std::string with_separator(std::string_view text, char separator) {
    std::string slashed(text);
    if (!ends_with_separator(text, separator)) slashed.push_back(separator);
    return slashed;
}

}  // namespace

std::string percent_decoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 &&
            hex_value(text[i + 2]) >= 0) {
            decoded.push_back(
                static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
            i += 2;
        } else {
            decoded.push_back(text[i]);
        }
    }
    return decoded;
}

TargetPrefix::TargetPrefix(std::string prefix) : text_(std::move(prefix)) {
    const std::size_t host = authority_start(text_);
    if (host != std::string::npos) {
        separator_ = '/';
        const std::size_t path = std::min(text_.find('/', host), text_.size());
        const std::size_t end = std::min(text_.find_first_of("?#", host), text_.size());
        measured_ = path < end ? percent_decoded(std::string_view(text_).substr(path, end - path))
                               : std::string();
        base_ = text_.substr(0, end);
    } else {
        separator_ = looks_like_windows(text_) ? '\\' : '/';
        measured_ = text_;
        base_ = text_;
    }
}

LengthMeasure::LengthMeasure(std::string_view root, std::optional<TargetPrefix> target)
    : slashed_root_(search::addslash(root)), target_(std::move(target)) {
    if (target_) {
        root_units_ = search::utf16_length(target_->measured());
        slashed_root_units_ =
            search::utf16_length(with_separator(target_->measured(), target_->separator()));
    } else {
        root_units_ = search::destination_length(root);
        slashed_root_units_ = search::destination_length(slashed_root_);
    }
}

EntryLengths LengthMeasure::measure(std::string_view entry_text) const {
    const std::string_view rest =
        entry_text.substr(std::min(entry_text.size(), slashed_root_.size()));
    const std::size_t last_separator = rest.rfind(kHostSeparator);
    EntryLengths lengths;
    lengths.path = slashed_root_units_ + search::utf16_length(rest);
    lengths.folder =
        last_separator == std::string_view::npos
            ? root_units_
            : slashed_root_units_ + search::utf16_length(rest.substr(0, last_separator));
    return lengths;
}

std::string LengthMeasure::target_path(std::string_view entry_text) const {
    if (!target_) return std::string(entry_text);
    std::string path = with_separator(target_->base(), target_->separator());
    const std::size_t rest_start = path.size();
    path.append(entry_text.substr(std::min(entry_text.size(), slashed_root_.size())));
    std::replace(path.begin() + static_cast<std::ptrdiff_t>(rest_start), path.end(), kHostSeparator,
                 target_->separator());
    return path;
}

Verdict judge(const LengthRules& rules, const EntryLengths& lengths) {
    return {.by_folder = rules.folder_longer_than && lengths.folder > *rules.folder_longer_than,
            .by_file = rules.file_longer_than && lengths.path > *rules.file_longer_than};
}

}  // namespace kestrafin::scan
