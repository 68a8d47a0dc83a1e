// The volume's $UpCase table (record 10) and NTFS's collation of file
// names by it: the order of every folder's index. Names compare unit by
// unit through the table, a name that is a prefix of another first; names
// equal through the table (possible only in the POSIX namespace) then
// compare by their units as they are, as ntfs-3g orders them in the index
// it builds.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrafin::volume {

class Upcase {
  public:
    // The table in `bytes`, $UpCase's data: one UTF-16LE unit per unit,
    // units past its end mapping to themselves. Nothing, with `error`, for
    // an empty table or one of an odd length or longer than 65,536 units.
    static std::optional<Upcase> from_bytes(std::span<const std::byte> bytes, std::string& error);

    char16_t upcase(char16_t unit) const { return unit < table_.size() ? table_[unit] : unit; }

    // <0, 0 or >0 as `a` sorts before, with or after `b` in an index.
    int compare(std::u16string_view a, std::u16string_view b) const;
    // Whether the two are the same name through the table.
    bool equal_ignoring_case(std::u16string_view a, std::u16string_view b) const;

  private:
    std::vector<char16_t> table_;
};

}  // namespace kestrafin::volume
