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
    // `items` in the walk's order and lets the view show them.
    void deliver(ListItems& items);

  private:
    const std::atomic<bool>& stop_;
    std::mutex mutex_;
    // Entry texts back to back, and the length of each.
    std::string pending_texts_;
    std::vector<std::uint32_t> pending_lengths_;
};

}  // namespace kestrafin::app
