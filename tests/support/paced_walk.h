// A walk for tests of the window that the test paces, so that what a search
// shows while it runs can be seen without a race with the clock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "search/walk_visitor.h"
#include "tests/support/walk_events.h"

namespace kestrafin::testing {

// A walk that finds what the test hands it, one folder at a time, and waits
// for the test in between; it ends when told to, or once it is asked to stop.
class PacedWalk {
  public:
    // The walk to hand the logic as its search.
    auto search() {
        return [this](const std::string&, search::WalkVisitor& visitor,
                      const std::atomic<bool>& stop) { walk(visitor, stop); };
    }
    // Lets the walk find `entries` as one folder; returns once it has handed
    // them on. False when the walk never took them (it has ended).
    [[nodiscard]] bool find(std::vector<std::string> entries) { return step(std::move(entries)); }
    // Lets the walk end; returns once it has.
    [[nodiscard]] bool end() { return step(std::nullopt); }
    // True once the walk saw its stop request, or an answer that stops it.
    bool stopped() {
        const std::lock_guard lock(mutex_);
        return stopped_;
    }

  private:
    bool step(std::optional<std::vector<std::string>> entries) {
        std::unique_lock lock(mutex_);
        steps_.push_back(std::move(entries));
        const std::size_t wanted = ++asked_;
        signal_.notify_all();
        return signal_.wait_for(lock, std::chrono::seconds(60), [&] { return done_ >= wanted; });
    }
    void walk(search::WalkVisitor& visitor, const std::atomic<bool>& stop) {
        std::unique_lock lock(mutex_);
        const auto stop_asked = [&] { return stop.load(std::memory_order_relaxed); };
        for (;;) {
            // While it waits it looks at its stop request now and then, as a
            // walk waiting on the host sees it once the host answers.
            while (steps_.empty() && !stop_asked())
                signal_.wait_for(lock, std::chrono::milliseconds(10));
            if (steps_.empty() || (steps_.front() && stop_asked())) {
                stopped_ = true;
                if (!steps_.empty()) {
                    steps_.pop_front();
                    ++done_;
                }
                signal_.notify_all();
                return;
            }
            auto entries = std::move(steps_.front());
            steps_.pop_front();
            bool answered_stop = false;
            if (entries) {
                for (const auto& entry : *entries)
                    if (!answered_stop)
                        answered_stop = tell_file(visitor, entry) == search::Answer::stop;
                if (!answered_stop)
                    answered_stop = tell_done(visitor, "folder") == search::Answer::stop;
            }
            if (answered_stop) stopped_ = true;
            ++done_;
            signal_.notify_all();
            if (!entries || answered_stop) return;
        }
    }

    std::mutex mutex_;
    std::condition_variable signal_;
    std::deque<std::optional<std::vector<std::string>>> steps_;
    std::size_t asked_ = 0;
    std::size_t done_ = 0;
    bool stopped_ = false;
};

}  // namespace kestrafin::testing
