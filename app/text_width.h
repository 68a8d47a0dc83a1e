// The width of entry texts in a font, estimated cheaply enough to be done for
// every entry of a list of millions: the sum of the advances of its characters,
// each measured once and kept.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <array>
#include <string_view>

namespace kestrafin::app {

class TextWidth {
  public:
    explicit TextWidth(const QFont& font);

    // The width in pixels of `utf8` as the list shows it (display_text()),
    // ignoring kerning between characters.
    int estimate(std::string_view utf8);
    // The width as the font lays the whole shown text out.
    int measure(std::string_view utf8) const;

  private:
    int advance_of(char32_t code_point);

    QFontMetrics metrics_;
    std::array<int, 256> latin1_{};
    QHash<char32_t, int> others_;
};

}  // namespace kestrafin::app
