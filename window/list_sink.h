// Feeds a running search into the result list. The walk calls the sink on its
// own thread; the window moves what has been found into the list on its
// thread, in batches, with deliver().
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "scan/sink.h"
#include "window/list_items.h"

namespace kestrafin::window {

class ListSink : public scan::Sink {
  public:
    // On the walk's thread. Entries are kept back and handed on to the window
    // in runs: at the end of each folder, every 64 KiB, and by hand_on().
    void entry(const scan::Entry& entry) override { add(entry.path); }
    void folder_done(std::string_view directory, const scan::ScanReport& report) override;
    void add(std::string_view entry_text);
    // Hands on the entries kept back; the walk's thread calls it once the walk
    // has ended, however it ended.
    void hand_on();

    // On the window's thread: appends every entry found since the last call to
    // `items` in the walk's order and returns how many; items.Refresh() shows
    // them.
    std::size_t deliver(ListItems& items);

    // How far the walk has come: the folders read so far and the last of them.
    struct Progress {
        std::size_t folders_read = 0;
        std::string folder;
    };
    // On the window's thread.
    Progress progress();

  private:
    // Entry texts back to back, and the length of each.
    struct Batch {
        std::string texts;
        std::vector<std::uint32_t> lengths;
    };

    // Kept back by the walk, which alone touches it.
    Batch found_;
    std::mutex mutex_;
    // Handed on by the walk.
    Batch pending_;
    // Emptied by the window. The three trade places and keep their room, so
    // that the walk writes into memory it has used before rather than growing
    // a new buffer for every batch.
    Batch delivering_;
    // Told by the walk at the end of each folder, under the lock.
    Progress progress_;
};

}  // namespace kestrafin::window
