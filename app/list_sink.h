// Feeds a running search into the result list. The walk calls the sink on its
// own thread; the window moves what has been found into the list on its
// thread, in batches, with deliver().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/result_list.h"
#include "search/searchfiles.h"

namespace kestrafin::app {

class ListSink : public search::SearchSink {
  public:
    // The walk ends early once `stop` is set.
    explicit ListSink(const std::atomic<bool>& stop) : stop_(stop) {}

    // On the walk's thread.
    void add_entry(std::string_view entry_text) override;
    bool should_stop() override { return stop_.load(std::memory_order_relaxed); }

    // On the window's thread: appends every entry found since the last call to
    // `items` in the walk's order and returns how many; items.Refresh() shows
    // them.
    std::size_t deliver(ListItems& items);

  private:
    // Entry texts back to back, and the length of each.
    struct Batch {
        std::string texts;
        std::vector<std::uint32_t> lengths;
    };

    const std::atomic<bool>& stop_;
    std::mutex mutex_;
    // Filled by the walk.
    Batch pending_;
    // Emptied by the window. The two trade places at each delivery and keep
    // their room, so that the walk writes into memory it has used before
    // rather than growing a new buffer for every batch.
    Batch delivering_;
};

}  // namespace kestrafin::app
