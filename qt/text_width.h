// The width of entry texts in a font, estimated cheaply enough to be done for
// every entry of a list of millions: the sum of the advances of its characters,
// each measured once and kept. Both figures are of the row as the list shows
// it (shown_row_text()), so a row of any length costs no more than one of
// window::kLongestShownRow units.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrafin::qt {

class TextWidth {
  public:
    explicit TextWidth(const QFont& font);

    // The width in pixels of `utf8` as the list shows it (one_line_text()),
    // ignoring kerning between characters.
    int estimate(std::string_view utf8);
    // The same as estimate(), cheaper for runs of paths in one folder or in
    // neighbouring folders (as a walk finds them): the widths of the last
    // path's folders are kept from one call to the next.
    int estimate_path(std::string_view utf8);
    // estimate_path() of the row `utf8` as the list shows it: of its shown
    // parts and the ellipsis between them where it is cut.
    int estimate_row(std::string_view utf8);
    // The width as the font lays the row `utf8` out as the list shows it.
    int measure(std::string_view utf8) const;

  private:
    int advance_of(char32_t code_point);

    QFontMetrics metrics_;
    // Measured when the object is made: most texts are ASCII throughout.
    std::array<int, 128> ascii_{};
    std::array<int, 256> latin1_{};
    QHash<char32_t, int> others_;
    // The folder part of the last path estimated, and the width up to the end
    // of each of its separators: a path that shares folders with the last one
    // (as the next files of a walk do, however deep) is estimated from where
    // they part.
    std::string last_folder_;
    std::vector<std::pair<std::size_t, int>> folder_widths_;
};

}  // namespace kestrafin::qt
