// Message box texts laid out so that they show whole. A message box breaks
// its lines between words only, so a path of thousands of characters with no
// blank in it runs past the box's edge and hides what follows it, the reason
// above all. Long words get invisible break opportunities (U+200B ZERO WIDTH
// SPACE): after each path separator, and between any two characters of a
// name too long for a line. Nothing visible changes; short words and texts
// without long words are returned as they are.
#pragma once

#include <QString>

namespace kestrafin::qt {

// The invisible break opportunity laid into long words; a copy of the text
// leaves it out again.
inline constexpr QChar kBreakOpportunity{0x200B};

// Words (runs without blanks) up to this many UTF-16 units are left whole.
inline constexpr qsizetype kLongWord = 40;

// `text` with break opportunities in its long words; never inside a
// character (a surrogate pair, a letter and its marks).
QString breakable_text(const QString& text);

}  // namespace kestrafin::qt
