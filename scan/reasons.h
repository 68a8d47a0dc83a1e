// Why a scan lists an entry: a rule it breaks (scan/rules/rule_list.h gives
// each rule's place) or the walk's failing to read it. The codes are what
// CSV and JSON carry and scripts match on.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrafin::scan {

// A rule's place in the list of rules.
class Reason {
  public:
    constexpr explicit Reason(std::size_t index) : index_(static_cast<std::uint8_t>(index)) {}
    constexpr std::size_t index() const { return index_; }
    constexpr bool operator==(const Reason&) const = default;

  private:
    std::uint8_t index_;
};
inline constexpr std::size_t kMostReasons = 16;

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

    // Calls `visit` with each reason held, in the order of the rules.
    template <typename Visit>
    void each(Visit visit) const {
        for (unsigned bits = bits_; bits != 0; bits &= bits - 1)
            visit(Reason(static_cast<std::size_t>(std::countr_zero(bits))));
    }

  private:
    static std::uint16_t bit(Reason reason) {
        return static_cast<std::uint16_t>(1u << reason.index());
    }
    std::uint16_t bits_ = 0;
};
static_assert(kMostReasons <= 16, "the bits of Reasons");

}  // namespace kestrafin::scan
