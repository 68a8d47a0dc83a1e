#include "volume/upcase.h"

#include <algorithm>

#include "volume/le_bytes.h"

namespace kestrafin::volume {

std::optional<Upcase> Upcase::from_bytes(std::span<const std::byte> bytes, std::string& error) {
    if (bytes.empty() || bytes.size() % 2 != 0 || bytes.size() > 2 * 65536) {
        error = "the volume's $UpCase table is " + std::to_string(bytes.size()) + " bytes long";
        return std::nullopt;
    }
    Upcase table;
    table.table_.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < table.table_.size(); ++i)
        table.table_[i] = static_cast<char16_t>(le16(bytes.data() + 2 * i));
    return table;
}

int Upcase::compare(std::u16string_view a, std::u16string_view b) const {
    std::size_t common = std::min(a.size(), b.size());
    // Names in one folder often share long prefixes; equal units need no table.
    for (std::size_t i = 0; i < common;) {
        auto [pa, pb] = std::mismatch(a.begin() + i, a.begin() + common, b.begin() + i);
        i = static_cast<std::size_t>(pa - a.begin());
        if (i == common) break;
        char16_t ua = upcase(*pa);
        char16_t ub = upcase(*pb);
        if (ua != ub) return ua < ub ? -1 : 1;
        ++i;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

bool Upcase::equal_ignoring_case(std::u16string_view a, std::u16string_view b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upcase(a[i]) != upcase(b[i])) return false;
    return true;
}

}  // namespace kestrafin::volume
