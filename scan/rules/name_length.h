// name_length: a name alone is longer than the destination allows, in UTF-16
// code units. windows and onedrive (synced to NTFS): 255.
#pragma once

#include "scan/rules/rule.h"

namespace kestrafin::scan {

inline constexpr ProfileUse<std::size_t> kNameLongerThan[] = {{Profile::windows, 255},
                                                              {Profile::onedrive, 255}};

inline constexpr Rule kNameLengthRule{
    .code = "name_length",
    .judges = JudgesEachName{.set_up = [](ProfileSet chosen, NameTests& tests) {
        tests.refuse_longer_than(least_chosen(kNameLongerThan, chosen));
    }}};

}  // namespace kestrafin::scan
