#include "search/reader_count.h"

#include <algorithm>
#include <utility>

namespace kestrafin::search {

namespace {

// How the count is tried higher: after every so many reads, twice as many
// readers are kept when they read at least this much faster.
constexpr std::size_t kReadsPerRound = 64;
constexpr int kRoundsBetweenTries = 8;
constexpr double kRateToKeepMore = 1.5;
// Reads are judged every so many timed reads, and taken for cached when
// fewer than one in so many waited.
constexpr std::size_t kTimedToJudge = 16;
constexpr std::size_t kWaitedToGoOn = 8;
// Judgements in a row that find the reads cached before the count falls back.
// Where the tree is not cached, runs of cached reads come all the same: a part
// of the tree reached a second way, through a link or after one, was read
// moments before.
// Only a long run is a cached part of the tree. Too few readers where reads
// wait cost far more than too many where they do not.
constexpr int kCachedJudgementsToFallBack = 8;

}  // namespace

ReaderCount::ReaderCount(std::function<Clock::time_point()> now, std::size_t first,
                         std::size_t where_reads_wait, std::size_t most, bool cached)
    : now_(std::move(now)),
      first_(first),
      where_reads_wait_(where_reads_wait),
      most_(most),
      round_started_(now_()),
      reads_cached_(cached) {
    set_active(first);
}

void ReaderCount::set_active(std::size_t count) {
    active_ = std::clamp<std::size_t>(count, 1, std::max<std::size_t>(most_, 1));
}

void ReaderCount::refused_after(std::size_t started) {
    most_ = started;
    active_ = std::max<std::size_t>(started, 1);
}

void ReaderCount::count_read(std::optional<ReadWaits::Waited> waited, std::size_t under_way) {
    if (waited) {
        ++round_timed_;
        if (*waited != ReadWaits::Waited::not_at_all) ++round_waited_;
        if (under_way <= first_) {
            ++round_timed_few_;
            if (*waited == ReadWaits::Waited::as_long_as_a_share) ++round_waited_long_few_;
        }
    }
    if (round_timed_ == kTimedToJudge || reads_wait_as_on_a_share()) judge_reads();
    if (++round_reads_ == kReadsPerRound) end_round();
}

// Reads wait long on a share however few are under way; on a disk, only once
// many queue: so long waits tell a share only while few readers work, and
// only those of reads that had few beside them (after the count fell, the
// reads of the readers before were queued behind many, however few are left
// as they end). Judged soon, since a share wants all readers at once.
bool ReaderCount::reads_wait_as_on_a_share() const {
    return active_ <= first_ && round_waited_long_few_ >= kTimedToJudge / 4 &&
           round_waited_long_few_ * 2 >= round_timed_few_;
}

void ReaderCount::judge_reads() {
    std::size_t at_least = 0;
    if (reads_wait_as_on_a_share())
        at_least = most_;
    else if (round_waited_ * 2 >= round_timed_)
        at_least = where_reads_wait_;
    reads_cached_ = round_waited_ * kWaitedToGoOn < round_timed_;
    round_timed_ = 0;
    round_waited_ = 0;
    round_timed_few_ = 0;
    round_waited_long_few_ = 0;
    cached_judgements_ = reads_cached_ ? cached_judgements_ + 1 : 0;
    if (cached_judgements_ >= kCachedJudgementsToFallBack && active_ > first_) {
        trying_more_ = false;
        set_active(first_);
    } else if (active_ < at_least) {
        trying_more_ = false;
        set_active(at_least);
    }
}

// At the end of a round of reads: tries twice as many readers where the walk
// waits for them, and keeps them only when folders are then read markedly
// faster.
void ReaderCount::end_round() {
    const Clock::time_point now = now_();
    const double seconds = std::chrono::duration<double>(now - round_started_).count();
    const double rate = seconds > 0 ? static_cast<double>(round_reads_) / seconds : 0;
    // The walk waited for the readers, or read folders itself, on a quarter
    // of the round's folders: they are behind it. More of them can help only
    // where reads wait; where they are cached, the processors are the limit.
    const bool readers_behind = round_waits_ * 4 >= round_reads_ && !reads_cached_;
    round_reads_ = 0;
    round_waits_ = 0;
    round_started_ = now;
    if (trying_more_) {
        trying_more_ = false;
        if (rate < settled_rate_ * kRateToKeepMore) {
            active_ = std::max<std::size_t>(active_ / 2, 1);
            rounds_until_trying_ = kRoundsBetweenTries;
            return;
        }
        rounds_until_trying_ = 0;  // that paid: try more at once
    }
    settled_rate_ = rate;
    if (rounds_until_trying_ > 0) --rounds_until_trying_;
    if (active_ >= most_ || rounds_until_trying_ > 0 || !readers_behind) return;
    trying_more_ = true;
    set_active(active_ * 2);
}

}  // namespace kestrafin::search
