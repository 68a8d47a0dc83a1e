// path_length: an entry's whole path, measured at the destination, is longer
// than the destination allows. windows: MAX_PATH (260) less its NUL.
// sharepoint and onedrive: 400, counted from the target prefix's path.
#pragma once

#include "scan/rules/rule.h"

namespace kestrafin::scan {

inline constexpr ProfileUse<std::size_t> kPathLongerThan[] = {
    {Profile::windows, 259}, {Profile::sharepoint, 400}, {Profile::onedrive, 400}};

inline constexpr Rule kPathLengthRule{
    .code = "path_length",
    .judges =
        JudgesLengths{.rule = &LengthRules::file_longer_than, .longer_than = kPathLongerThan}};

}  // namespace kestrafin::scan
