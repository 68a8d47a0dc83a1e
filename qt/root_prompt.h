// The "Change" prompt: a box to type or paste a root into, whose list offers
// the roots entered before, with "Browse..." for the platform's folder
// picker, OK and Cancel. Wide enough to show a share's path as it is typed.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>

namespace kestrafin::qt {

// The width of a prompt's text box in `font`: as wide as the Windows prompt's
// box in the dialog's own font, whose dialog unit Windows takes from the mean
// width of the Latin letters.
int prompt_box_width(const QFont& font);

// The text on OK (possibly empty); nothing on Cancel or close.
std::optional<QString> ask_for_root(QWidget* parent, const QString& title, const QString& prompt,
                                    const QStringList& recent);

}  // namespace kestrafin::qt
