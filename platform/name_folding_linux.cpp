#include "platform/name_folding.h"
#include "platform/text.h"

#include <utf8proc.h>

#include <cstdlib>
#include <memory>

namespace kestrafin::platform {

std::string name_comparison_key(std::string_view name) {
    // ASCII is its own composed form: most names never reach the library.
    if (is_ascii(name)) return ascii_upper(name);
    utf8proc_uint8_t* composed = nullptr;
    const utf8proc_ssize_t length =
        utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(name.data()),
                     static_cast<utf8proc_ssize_t>(name.size()), &composed,
                     static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    // Refused: the name is no valid UTF-8.
    if (length < 0) return ascii_upper(name);
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(composed, &std::free);
    std::string key;
    key.reserve(static_cast<std::size_t>(length));
    for (utf8proc_ssize_t at = 0; at < length;) {
        utf8proc_int32_t code = 0;
        at += utf8proc_iterate(composed + at, length - at, &code);
        utf8proc_uint8_t encoded[4];
        const utf8proc_ssize_t size = utf8proc_encode_char(utf8proc_toupper(code), encoded);
        key.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(size));
    }
    return key;
}

}  // namespace kestrafin::platform
