// What a test may set of a walk beyond its options, so that it reaches on
// any machine what the walk decides from the host's processors and the time
// its reads take. Callers of the walk other than tests do not use it.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "search/searchfiles.h"

namespace kestrafin::search {

struct WalkSeams {
    // With threads: the readers start as soon as the walk has read this many
    // folders (the root counts), however fast it reads.
    std::optional<std::size_t> read_ahead_after_folders = std::nullopt;
};

// searchfiles with `seams`.
void searchfiles(std::string_view directory, WalkVisitor& visitor, const SearchOptions& options,
                 const WalkSeams& seams);

}  // namespace kestrafin::search
