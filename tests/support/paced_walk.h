// A walk for tests of the window that the test paces, so that what a search
// shows while it runs can be seen without a race with the clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "search/searchfiles.h"

namespace kestrafin::testing {

// A walk that finds what the test hands it, one folder at a time, and waits
// for the test in between; it ends when told to, or once it is asked to stop.
class PacedWalk {
  public:
    // The walk to hand the logic as its search.
    auto search() {
        return [this](const std::string&, search::SearchSink& sink) { walk(sink); };
    }
    // Lets the walk find `entries` as one folder; returns once it has handed
    // them on. False when the walk never took them (it has ended).
    [[nodiscard]] bool find(std::vector<std::string> entries) { return step(std::move(entries)); }
    // Lets the walk end; returns once it has.
    [[nodiscard]] bool end() { return step(std::nullopt); }
    // True once the walk saw its stop request.
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
    void walk(search::SearchSink& sink) {
        std::unique_lock lock(mutex_);
        for (;;) {
            // While it waits it looks at its stop request now and then, as a
            // walk does between folders.
            while (steps_.empty() && !sink.should_stop())
                signal_.wait_for(lock, std::chrono::milliseconds(10));
            if (steps_.empty() || (steps_.front() && sink.should_stop())) {
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
            if (entries) {
                for (const auto& entry : *entries) sink.add_entry(entry);
                sink.folder_done("folder");
            }
            ++done_;
            signal_.notify_all();
            if (!entries) return;
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
