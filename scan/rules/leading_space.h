// leading_space: a name starts with a space, which the service refuses.
#pragma once

#include "scan/rules/rule.h"

namespace kestrafin::scan {

inline constexpr Profile kLeadingSpaceRefusedBy[] = {Profile::sharepoint, Profile::onedrive};

inline constexpr Rule kLeadingSpaceRule{
    .code = "leading_space",
    .judges = JudgesEachName{.set_up = [](ProfileSet chosen, NameTests& tests) {
        if (any_chosen(kLeadingSpaceRefusedBy, chosen)) tests.refuse_first(" ");
    }}};

}  // namespace kestrafin::scan
