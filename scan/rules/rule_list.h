// Every rule the scan knows, in the order their reasons are written in CSV,
// JSON and the summary; that order never changes, so a new rule goes last.
// A rule is its header in this folder and its line here.
#pragma once

#include <iterator>

#include "scan/reasons.h"
#include "scan/rules/collision.h"
#include "scan/rules/folder_length.h"
#include "scan/rules/invalid_character.h"
#include "scan/rules/leading_space.h"
#include "scan/rules/name_length.h"
#include "scan/rules/path_length.h"
#include "scan/rules/reserved_name.h"
#include "scan/rules/trailing_space_or_period.h"

namespace kestrafin::scan {

// One rule a line.
// clang-format off
inline constexpr const Rule* kRules[] = {
    &kPathLengthRule,
    &kFolderLengthRule,
    &kNameLengthRule,
    &kReservedNameRule,
    &kInvalidCharacterRule,
    &kTrailingSpaceOrPeriodRule,
    &kLeadingSpaceRule,
    &kCollisionRule,
};
// clang-format on

// The walk's own reason, a folder it could not read, comes after every rule's.
inline constexpr Reason kUnreadable{std::size(kRules)};
static_assert(std::size(kRules) < kMostReasons);

// The reason an entry breaking `rule`, one of kRules, is given.
constexpr Reason reason_of(const Rule& rule) {
    std::size_t at = 0;
    // By code, which is unique: GCC does not take addresses of different
    // objects as constant under AddressSanitizer.
    while (kRules[at]->code != rule.code) ++at;
    return Reason(at);
}

}  // namespace kestrafin::scan
