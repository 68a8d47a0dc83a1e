// Controls whose text is what they tell and is never typed: the count of
// records, the status line and the root box. Assistive technology reads
// each as a read-only text: its designed name and its text together
// ("Record count: 4854 records found"), the text alone as its value, and is
// told each time the text changes. Qt's own interfaces give a named label's
// name alone, and call any line edit editable.
#pragma once

#include <QWidget>

namespace kestrafin::qt {

// Makes `widget`, a QLabel or a QLineEdit, read so from now on.
void make_readable(QWidget* widget);
// What assistive technology reads for the text of `widget` from now on, in
// place of the text it shows (empty: the text shown).
void set_spoken_text(QWidget* widget, const QString& text);
// Tells assistive technology that the text of `widget` changed.
void tell_text_changed(QWidget* widget);

}  // namespace kestrafin::qt
