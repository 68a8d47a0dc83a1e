// What kestrafin-scan leaves out (--exclude): glob patterns on a name, or on
// the path below the root when the pattern holds a separator.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "search/name_exclusion.h"

namespace kestrafin::scan {

// True when `text` matches the glob `pattern` as a whole: "*" stands for any
// run of characters, "?" for one character, "[abc]", "[a-z]" and "[!abc]" for
// one character of a set; none of them matches a path separator. Characters
// are whole UTF-8 sequences; a byte that starts no valid sequence is a
// character of its own, in the pattern and in the name, so no pattern ever
// matches part of a valid character.
bool glob_matches(std::string_view pattern, std::string_view text);

class Exclusions : public search::NameExclusion {
  public:
    // Raises std::invalid_argument for an empty pattern. "/" counts as a
    // separator in patterns on every host; separators at either end of a
    // pattern are dropped, so "/build" is the folder build in the root only.
    explicit Exclusions(const std::vector<std::string>& patterns);

    bool empty() const { return names_.empty() && paths_.empty(); }
    bool excludes(std::string_view folder_below_root, std::string_view name) const override;

  private:
    struct PathPattern {
        std::string glob;
        std::size_t parts;  // names it matches, separated
    };
    std::vector<std::string> names_;
    std::vector<PathPattern> paths_;
};

}  // namespace kestrafin::scan
