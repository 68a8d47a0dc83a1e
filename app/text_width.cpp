#include "app/text_width.h"

#include <QString>

#include "app/display_text.h"

namespace kestrafin::app {

namespace {
constexpr int kUnknown = -1;

QString from_utf8(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A character as the list shows it.
QString shown_as(char32_t code_point) {
    const QString stand_in = stand_in_for(code_point);
    return stand_in.isEmpty() ? QString::fromUcs4(&code_point, 1) : stand_in;
}
}  // namespace

TextWidth::TextWidth(const QFont& font) : metrics_(font) {
    latin1_.fill(kUnknown);
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
        if (static_cast<unsigned char>(byte) >= 0x80) {
            plain = false;
            break;
        }
        width += advance_of(static_cast<unsigned char>(byte));
    }
    if (plain) return width;
    width = 0;
    const QString text = from_utf8(utf8);
    for (qsizetype at = 0; at < text.size(); ++at) {
        char32_t code_point = text[at].unicode();
        if (QChar::isHighSurrogate(code_point) && at + 1 < text.size() &&
            text[at + 1].isLowSurrogate()) {
            code_point = QChar::surrogateToUcs4(text[at].unicode(), text[at + 1].unicode());
            ++at;
        }
        width += advance_of(code_point);
    }
    return width;
}

int TextWidth::measure(std::string_view utf8) const {
    return metrics_.horizontalAdvance(display_text(utf8));
}

}  // namespace kestrafin::app
