// The walk of searchfiles with reader threads that read folders ahead of it.
// It hands the sink exactly what the walk on one thread hands it, in the same
// order: the threads change when a folder is read, never what is listed.
#pragma once

#include <string_view>

#include "search/searchfiles.h"

namespace kestrafin::search {

// Walks `directory` and every folder below it as searchfiles does, with up
// to options.threads - 1 reader threads. Returns true when the walk has ended
// or the sink asked to stop, with every reader thread ended; false, having
// done nothing, when the host's limit on open handles leaves the readers none.
bool walk_with_read_ahead(std::string_view directory, SearchSink& sink,
                          const SearchOptions& options);

}  // namespace kestrafin::search
