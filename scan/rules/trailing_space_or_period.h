// trailing_space_or_period: a name ends in a character the destination drops
// or refuses. windows and onedrive: a space or a period; sharepoint: a space.
#pragma once

#include "scan/rules/rule.h"

namespace kestrafin::scan {

inline constexpr ProfileUse<std::string_view> kTrailingRefused[] = {
    {Profile::windows, " ."}, {Profile::sharepoint, " "}, {Profile::onedrive, " ."}};

inline constexpr Rule kTrailingSpaceOrPeriodRule{
    .code = "trailing_space_or_period",
    .judges = JudgesEachName{.set_up = [](ProfileSet chosen, NameTests& tests) {
        each_chosen(kTrailingRefused, chosen,
                    [&](std::string_view characters) { tests.refuse_last(characters); });
    }}};

}  // namespace kestrafin::scan
