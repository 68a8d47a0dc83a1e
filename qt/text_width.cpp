#include "qt/text_width.h"

#include <QString>
#include <algorithm>

#include "platform/path_rules.h"
#include "window/one_line_text.h"
#include "window/shown_row.h"

namespace kestrafin::qt {

namespace {
constexpr int kUnknown = -1;

QString from_utf8(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A character as the list shows it.
QString shown_as(char32_t code_point) {
    const std::string stand_in = window::stand_in_for(code_point);
    return stand_in.empty() ? QString::fromUcs4(&code_point, 1) : QString::fromStdString(stand_in);
}
}  // namespace

TextWidth::TextWidth(const QFont& font) : metrics_(font) {
    latin1_.fill(kUnknown);
    for (char32_t code_point = 0; code_point < ascii_.size(); ++code_point)
        ascii_[code_point] = advance_of(code_point);
}

int TextWidth::advance_of(char32_t code_point) {
    if (code_point < latin1_.size()) {
        int& known = latin1_[code_point];
        if (known == kUnknown) known = metrics_.horizontalAdvance(shown_as(code_point));
        return known;
    }
    const auto found = others_.constFind(code_point);
    if (found != others_.constEnd()) return *found;
    const int advance = metrics_.horizontalAdvance(shown_as(code_point));
    others_.insert(code_point, advance);
    return advance;
}

int TextWidth::estimate(std::string_view utf8) {
    int width = 0;
    bool plain = true;
    for (const char byte : utf8) {
        const auto code = static_cast<unsigned char>(byte);
        if (code >= ascii_.size()) {
            plain = false;
            break;
        }
        width += ascii_[code];
    }
    if (plain) return width;
    width = 0;
    const QString text = from_utf8(utf8);
    bool after_selector = false;
    for (qsizetype at = 0; at < text.size(); ++at) {
        char32_t code_point = text[at].unicode();
        if (QChar::isHighSurrogate(code_point) && at + 1 < text.size() &&
            text[at + 1].isLowSurrogate()) {
            code_point = QChar::surrogateToUcs4(text[at].unicode(), text[at + 1].unicode());
            ++at;
        }
        const bool selector = window::is_variation_selector(code_point);
        // A run of selectors shows by code points: rare enough to lay out whole.
        if (selector && after_selector) return measure(utf8);
        after_selector = selector;
        width += advance_of(code_point);
    }
    return width;
}

// Cutting just after an ASCII byte splits no character, and every character's
// advance counts on its own, so the two parts' widths add up to the whole's.
int TextWidth::estimate_path(std::string_view utf8) {
    const std::size_t cut = utf8.rfind(platform::kPathSeparator);
    if (cut == std::string_view::npos) return estimate(utf8);
    const std::string_view folder = utf8.substr(0, cut + 1);
    if (folder != last_folder_) {
        // Keep the widths of the folders both paths share, and go on from there.
        const std::size_t shared =
            std::mismatch(folder.begin(), folder.end(), last_folder_.begin(), last_folder_.end())
                .first -
            folder.begin();
        while (!folder_widths_.empty() && folder_widths_.back().first > shared)
            folder_widths_.pop_back();
        std::size_t from = folder_widths_.empty() ? 0 : folder_widths_.back().first;
        int width = folder_widths_.empty() ? 0 : folder_widths_.back().second;
        while (from < folder.size()) {
            const std::size_t end = folder.find(platform::kPathSeparator, from) + 1;
            width += estimate(folder.substr(from, end - from));
            folder_widths_.emplace_back(end, width);
            from = end;
        }
        last_folder_.assign(folder);
    }
    return folder_widths_.back().second + estimate(utf8.substr(cut + 1));
}

int TextWidth::estimate_row(std::string_view utf8) {
    const window::ShownParts parts = window::shown_parts(utf8);
    if (!parts.cut) return estimate_path(utf8);
    return estimate(parts.head) + estimate(window::kElision) + estimate(parts.tail);
}

int TextWidth::measure(std::string_view utf8) const {
    return metrics_.horizontalAdvance(
        QString::fromStdString(window::shown_row_text(utf8, platform::kPathSeparator)));
}

}  // namespace kestrafin::qt
