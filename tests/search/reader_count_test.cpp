// How many readers work at once, from how long their reads waited.
#include "search/reader_count.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

namespace {

using kestrafin::search::ReaderCount;
using kestrafin::search::ReadWaits;
using Waited = ReadWaits::Waited;
using namespace std::chrono_literals;

// A clock that moves only when the test moves it.
struct FakeClock {
    ReaderCount::Clock::time_point now{};
    auto source() {
        return [this] { return now; };
    }
};

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
        FakeClock clock;
        ReaderCount count(clock.source(), 2, 24, 63);
        for (const Reads& reads : test.reads)
            for (int read = 0; read < reads.count; ++read)
                count.count_read(reads.waited, reads.under_way);
        EXPECT_EQ(count.active(), test.active) << test.what;
        EXPECT_EQ(count.reads_cached(), test.cached) << test.what;
    }
}

// Rounds of 64 untimed reads: the walk waited on a quarter of them or not,
// and the round took so long. Twice the readers are tried where the walk
// waits; they stay when folders then come at least half as fast again, else
// the count halves and waits eight rounds before it tries again.
TEST(ReaderCount, TriesMoreReadersWhereTheWalkWaitsAndKeepsThemWhenTheyReadFaster) {
    struct Round {
        std::chrono::milliseconds took;
        bool walk_waited;
        std::size_t active_after;
    };
    struct Case {
        const char* what;
        std::size_t most;
        std::vector<Round> rounds;
    };
    const std::vector<Case> cases = {
        {"a walk that never waits", 63, {{1000ms, false, 2}, {1000ms, false, 2}}},
        {"readers that read faster each time",
         63,
         {{1000ms, true, 4}, {600ms, true, 8}, {350ms, true, 16}, {200ms, false, 16}}},
        {"more readers that read no faster",
         63,
         {{1000ms, true, 4},
          {700ms, true, 2},  // 1.43 times as fast
          {1000ms, true, 2},
          {1000ms, true, 2},
          {1000ms, true, 2},
          {1000ms, true, 2},
          {1000ms, true, 2},
          {1000ms, true, 2},
          {1000ms, true, 2},
          {1000ms, true, 4}}},
        {"never more than the most", 5, {{1000ms, true, 4}, {100ms, true, 5}, {10ms, true, 5}}},
    };
    for (const Case& test : cases) {
        FakeClock clock;
        ReaderCount count(clock.source(), 2, 24, test.most);
        for (std::size_t round = 0; round < test.rounds.size(); ++round) {
            const Round& reads = test.rounds[round];
            clock.now += reads.took;
            for (int read = 0; read < 64; ++read) {
                if (reads.walk_waited && read % 4 == 0) count.walk_waited();
                count.count_read(std::nullopt, 1);
            }
            EXPECT_EQ(count.active(), reads.active_after) << test.what << ", round " << round;
        }
    }
}

}  // namespace
