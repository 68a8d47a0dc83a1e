// How many readers work at once, from how long their reads waited.
#include "search/reader_count.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

using kestrafin::search::ReaderCount;
using kestrafin::search::ReadWaits;
using Waited = ReadWaits::Waited;

TEST(ReaderCount, FollowsHowLongRecentReadsWaited) {
    struct Reads {
        std::optional<Waited> waited;
        int count;
        std::size_t under_way = 1;
    };
    struct Case {
        const char* what;
        std::vector<Reads> reads;
        std::size_t active;
        bool cached;
    };
    constexpr auto briefly = Waited::briefly;
    constexpr auto not_at_all = Waited::not_at_all;
    const std::vector<Case> cases = {
        {"untimed reads tell nothing", {{std::nullopt, 100}}, 2, false},
        {"reads that wait, as on a disk not cached", {{briefly, 16}}, 24, false},
        {"reads that wait as long as a share's", {{Waited::as_long_as_a_share, 4}}, 63, false},
        {"a disk's reads queued before the count fell, then one with few beside it",
         {{briefly, 16}, {not_at_all, 128, 24}, {Waited::as_long_as_a_share, 10, 24}, {briefly, 1}},
         2,
         true},
        {"runs of cached reads as a disk's read-ahead makes them",
         {{briefly, 16}, {not_at_all, 112}},
         24,
         true},
        {"a long run of cached reads", {{briefly, 16}, {not_at_all, 128}}, 2, true},
        {"cached reads from the start", {{not_at_all, 32}}, 2, true},
    };
    for (const Case& test : cases) {
        ReaderCount count(2, 24, 63);
        for (const Reads& reads : test.reads)
            for (int read = 0; read < reads.count; ++read)
                count.count_read(reads.waited, reads.under_way);
        EXPECT_EQ(count.active(), test.active) << test.what;
        EXPECT_EQ(count.reads_cached(), test.cached) << test.what;
    }
}

}  // namespace
