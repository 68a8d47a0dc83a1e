// folder_length: the path of the folder holding an entry is longer than the
// destination allows. windows: 247, which leaves room for an 8.3 name.
#pragma once

#include "scan/rules/rule.h"

namespace kestrafin::scan {

inline constexpr ProfileUse<std::size_t> kFolderLongerThan[] = {{Profile::windows, 247}};

inline constexpr Rule kFolderLengthRule{
    .code = "folder_length",
    .judges =
        JudgesLengths{.rule = &LengthRules::folder_longer_than, .longer_than = kFolderLongerThan}};

}  // namespace kestrafin::scan
