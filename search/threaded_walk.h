// The walk of searchfiles with reader threads that read folders ahead of it.
// It hands the sink exactly what the walk on one thread hands it, in the same
// order: the threads change when a folder is read, never what is listed.
#pragma once

#include <cstddef>

#include "search/searchfiles.h"
#include "search/walk_descent.h"

namespace kestrafin::search {

struct ReaderPlan {
    std::size_t readers = 0;  // reader threads besides the walk's own; 0 reads nothing ahead
    std::size_t handles = 0;  // open handles they may hold together
};

// The readers a walk with `options` may have: options.threads - 1, fewer when
// the host's limit on open handles leaves them too few; none when it leaves
// them none.
ReaderPlan plan_readers(const SearchOptions& options);

// Walks on from `descent` (at least one folder deep) to the end, as the walk
// on one thread would have, with `readers` reading ahead; each folder of the
// descent goes on with its subfolders from its next_subfolder. Returns when
// the walk has ended or the sink asked to stop, with every reader thread
// ended; the descent is then used up.
void walk_on_with_read_ahead(Descent& descent, SearchSink& sink, const SearchOptions& options,
                             const ReaderPlan& readers);

}  // namespace kestrafin::search
