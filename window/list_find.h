// Finding rows of the result list by a text their paths hold, for the list's
// Find (Ctrl+F) and Find next (F3). Letters match in either case, compared by
// each character's simple upper case as Windows compares names; the search
// starts beside the current row and wraps past the end of the list once.
#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "window/entry_store.h"

namespace kestrafin::window {

class PathMatcher {
  public:
    explicit PathMatcher(std::string_view text);
    // True when `path` holds the text; every path holds the empty text.
    bool matches(std::string_view path) const;

  private:
    std::string key_;
    // An ASCII text is found in an ASCII path without folding the path.
    bool ascii_ = true;
};

// The next of rows 0 to `rows` - 1 whose path matches: after `current`
// (before it when `backwards`), wrapping past the end, `current` itself last;
// from the first row (the last when `backwards`) when there is no current
// row. None when no row matches, or when `stop` was set meanwhile.
std::optional<std::size_t> find_row(const EntryStore& store, std::size_t rows,
                                    const PathMatcher& matcher, std::optional<std::size_t> current,
                                    bool backwards, const std::atomic<bool>& stop);

}  // namespace kestrafin::window
