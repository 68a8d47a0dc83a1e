// The caption of the count label: the count, a blank and "records found";
// the empty text when the list is empty.
#pragma once

#include <cstddef>
#include <string>

namespace kestrafin::window {

inline std::string count_label_text(std::size_t count) {
    if (count == 0) return {};
    return std::to_string(count) + " records found";
}

}  // namespace kestrafin::window
