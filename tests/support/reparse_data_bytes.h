// Reparse data of a link as the system returns it, for tests of links that
// Wine cannot make (one to another machine) and of their parsing.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/windows/reparse_data.h"

namespace kestrafin::testing {

// The substitute name, then the print name "p"; `flags` only for a
// symbolic link (1: relative).
inline std::vector<std::uint8_t> reparse_data_bytes(
    std::u16string_view substitute, std::uint32_t tag = platform::windows::kReparseTagSymlink,
    std::uint32_t flags = 0) {
    std::vector<std::uint8_t> data;
    const auto put16 = [&](std::uint32_t value) {
        data.push_back(static_cast<std::uint8_t>(value));
        data.push_back(static_cast<std::uint8_t>(value >> 8));
    };
    const bool symlink = tag == platform::windows::kReparseTagSymlink;
    const auto name_bytes = static_cast<std::uint32_t>(2 * substitute.size());
    for (const std::uint32_t field : {tag & 0xFFFF, tag >> 16, (symlink ? 12 : 8) + name_bytes + 2,
                                      0u, 0u, name_bytes, name_bytes, 2u})
        put16(field);
    if (symlink) {
        put16(flags & 0xFFFF);
        put16(flags >> 16);
    }
    for (const char16_t unit : substitute) put16(unit);
    put16(u'p');
    return data;
}

}  // namespace kestrafin::testing
