// How a running search reaches the list: the sink that hands the walk's
// entries to the window in batches, and when the list shows new rows.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/window/stand_in_face.h"
#include "window/list_sink.h"
#include "window/row_schedule.h"

using kestrafin::testing::StandInFace;
using kestrafin::window::ListItems;
using kestrafin::window::ListSink;
using kestrafin::window::RowSchedule;

TEST(ListFeed, BatchesHoldEveryEntryOnceInTheWalksOrder) {
    // Texts of every length, the empty one included, so that an entry cut at
    // a batch boundary or shifted by its neighbour's length shows.
    std::vector<std::string> found;
    for (int i = 0; i < 60'000; ++i)
        found.push_back(i % 997 == 0 ? std::string()
                                     : std::string(i % 301, 'a' + i % 26) + std::to_string(i));
    StandInFace face;
    ListItems items(face);
    ListSink sink;
    std::atomic<bool> walked{false};
    std::atomic<std::size_t> taken{0};
    std::thread walk([&] {
        // Folders of 0 to 300 files; the walk hands on each folder's files
        // when it is done with the folder, and a long one in runs.
        std::size_t folder_end = 0;
        for (std::size_t at = 0; at < found.size(); ++at) {
            sink.add(found[at]);
            if (at == folder_end) {
                sink.hand_on();
                folder_end += 1 + at * 7 % 300;
            }
            // The window takes batches in between, at places of its choosing,
            // and at least once every 10,000 entries: what a done folder
            // handed on reaches it.
            if (at % 97 == 0) std::this_thread::yield();
            if (at % 10'000 == 9'999) {
                sink.hand_on();
                while (taken < at + 1) std::this_thread::yield();
            }
        }
        // The files of the last folder, which the window takes at the end.
        sink.add("last");
        sink.hand_on();
        walked = true;
    });
    std::size_t batches = 0;
    std::size_t delivered = 0;
    while (!walked) {
        const std::size_t added = sink.deliver(items);
        delivered += added;
        taken = delivered;
        batches += added > 0 ? 1 : 0;
        if (batches % 3 == 0) items.Refresh();
    }
    walk.join();
    // The last batch: whatever the walk added after the window last looked.
    delivered += sink.deliver(items);
    items.Refresh();
    EXPECT_EQ(sink.deliver(items), 0u);
    found.emplace_back("last");
    EXPECT_EQ(delivered, found.size());
    ASSERT_EQ(items.Count(), found.size());
    EXPECT_EQ(face.rows_shown, found.size());
    for (std::size_t at = 0; at < found.size(); ++at)
        ASSERT_EQ(items.Text(at + 1), found[at]) << "entry " << at + 1;
    EXPECT_GE(batches, found.size() / 10'000);
}

TEST(ListFeed, ALongSearchShowsItsRowsRarelyButNeverLongAfterItFoundThem) {
    // A thousand entries every 50 ms for a minute, then every 50 ms for a
    // minute entries that trickle in one at a time.
    using namespace std::chrono_literals;
    const auto start = RowSchedule::Clock::now();
    RowSchedule schedule(1000ms, start);
    std::size_t total = 0;
    std::size_t shown = 0;
    auto last_shown = start;
    int shows = 0;
    for (int tick = 1; tick <= 2400; ++tick) {
        total += tick <= 1200 ? 1000 : 1;
        const auto now = start + tick * 50ms;
        if (schedule.due(shown, total, now)) {
            shown = total;
            last_shown = now;
            ++shows;
        }
        ASSERT_TRUE(shown == total || now - last_shown < 1000ms) << "tick " << tick;
        // The first screenful shows at once.
        if (tick == 1) {
            EXPECT_EQ(shown, total);
        }
    }
    // Shown at every tick, the view would lay out about 1.4 billion rows.
    EXPECT_LE(shows, 60 + 60 + 60);
    EXPECT_FALSE(schedule.due(total, total, start + 3600s));
}
