// The caption of the count label: the count, a blank and "records found";
// the empty text when the list is empty.
#pragma once

#include <QString>
#include <cstddef>

namespace kestrafin::app {

inline QString count_label_text(std::size_t count) {
    if (count == 0) return {};
    return QString::number(static_cast<qulonglong>(count)) + QStringLiteral(" records found");
}

}  // namespace kestrafin::app
