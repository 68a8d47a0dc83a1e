#include "platform/name_folding.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace kestrafin::platform::host {

char32_t simple_upper_case(char32_t point) {
    return static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(point)));
}

std::optional<std::string> composed_form(std::string_view text) {
    utf8proc_uint8_t* composed = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                     static_cast<utf8proc_ssize_t>(text.size()), &composed,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (length < 0) return std::nullopt;
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(composed, &std::free);
    return std::string(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(length));
}

}  // namespace kestrafin::platform::host
