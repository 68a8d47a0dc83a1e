// Names a walk leaves out, chosen by its caller (SearchOptions::exclusion):
// an excluded folder is never opened, by the walk nor by a reader ahead of it.
#pragma once

#include <string_view>

namespace kestrafin::search {

// Asked from any thread at once.
class NameExclusion {
  public:
    virtual ~NameExclusion() = default;
    // True when the entry `name` of the folder whose path below the walk's
    // root is `folder_below_root` (empty for the root itself; host
    // separators, none at either end) is left out.
    virtual bool excludes(std::string_view folder_below_root, std::string_view name) const = 0;
};

}  // namespace kestrafin::search
