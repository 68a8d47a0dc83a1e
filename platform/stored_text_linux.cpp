// Linux stores the program's bytes: names are bytes, and so is the text of
// the program's files.
#include <stdexcept>

#include "platform/stored_text.h"

namespace kestrafin::platform {

unsigned stored_text_code_page() {
    return 0;
}

bool append_from_code_page(std::string& out, std::string_view stored, unsigned code_page) {
    if (code_page != 0) throw std::invalid_argument("no code pages on this host");
    out.append(stored);
    return true;
}

bool append_in_code_page(std::string& out, std::string_view text, unsigned code_page) {
    if (code_page != 0) throw std::invalid_argument("no code pages on this host");
    out.append(text);
    return true;
}

}  // namespace kestrafin::platform
