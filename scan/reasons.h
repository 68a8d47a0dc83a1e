// Why a scan lists an entry: short codes that CSV and JSON carry and scripts
// match on, so they never change once given. A new reason is a row here and
// in reason_code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrafin::scan {

enum class Reason : std::uint8_t {
    path_length,               // the entry's path is longer than a rule allows
    folder_length,             // the path of the folder holding it is
    name_length,               // its name alone is
    reserved_name,             // a name the destination keeps for itself
    invalid_character,         // a character the destination refuses in names
    trailing_space_or_period,  // a name ending in a character the destination drops
    leading_space,             // a name starting with a space
    collision,                 // equal to another name of its folder at the destination
    unreadable,                // a folder the walk could not read; stays last
};
inline constexpr std::size_t kReasonCount = static_cast<std::size_t>(Reason::unreadable) + 1;

// The code of `reason` as written in CSV, JSON and the summary.
std::string_view reason_code(Reason reason);

// The reasons of one entry.
class Reasons {
  public:
    void add(Reason reason) { bits_ |= bit(reason); }
    void add(Reasons other) { bits_ |= other.bits_; }
    bool has(Reason reason) const { return (bits_ & bit(reason)) != 0; }
    bool any() const { return bits_ != 0; }
    bool operator==(const Reasons&) const = default;

    // Calls `visit` with each reason held, in the order of the enumeration.
    template <typename Visit>
    void each(Visit visit) const {
        for (std::size_t index = 0; index < kReasonCount; ++index)
            if (has(static_cast<Reason>(index))) visit(static_cast<Reason>(index));
    }

  private:
    static std::uint16_t bit(Reason reason) {
        return static_cast<std::uint16_t>(1u << static_cast<unsigned>(reason));
    }
    std::uint16_t bits_ = 0;
};

}  // namespace kestrafin::scan
