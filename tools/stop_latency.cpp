// kestrafin-stop-latency [--after SECONDS] [--threads N] ROOT: starts the
// window's walk of ROOT (its thread count, the default 64), asks it to stop
// after SECONDS (default 2) as Escape does, from another thread, and prints
// how long the walk took from that request to its end, and how many folders
// it had finished by then. For benchmarks (tools/share_benchmark.py
// --stop-latency); builds for every host.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "search/searchfiles.h"

namespace {

struct Counting : kestrafin::search::WalkHooks {
    explicit Counting(const std::atomic<bool>& stop) : stop_(stop) {}
    void folder_done(std::string_view) override { folders.fetch_add(1, std::memory_order_relaxed); }
    bool should_stop() override {
        if (!stop_.load(std::memory_order_relaxed)) return false;
        if (!seen) seen = std::chrono::steady_clock::now();
        return true;
    }
    std::atomic<std::size_t> folders{0};
    // When the walk first told its visitor after the request, if it did.
    std::optional<std::chrono::steady_clock::time_point> seen;
    const std::atomic<bool>& stop_;
};

}  // namespace

int main(int argc, char** argv) {
    double after = 2.0;
    std::size_t threads = kestrafin::search::kDefaultThreads;
    std::string root;
    for (int at = 1; at < argc; ++at) {
        const std::string argument = argv[at];
        if (argument == "--after" && at + 1 < argc)
            after = std::atof(argv[++at]);
        else if (argument == "--threads" && at + 1 < argc)
            threads = static_cast<std::size_t>(std::atol(argv[++at]));
        else
            root = argument;
    }
    if (root.empty() || after < 0 || threads == 0) {
        std::fputs("usage: kestrafin-stop-latency [--after SECONDS] [--threads N] ROOT\n", stderr);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> stop{false};
    Counting counting(stop);
    kestrafin::search::SearchOptions options;
    options.threads = threads;
    options.stop = &stop;
    std::atomic<bool> ended{false};
    Clock::time_point end;
    std::thread walk([&] {
        kestrafin::search::searchfiles(root, counting, options);
        end = Clock::now();
        ended = true;
    });
    const auto until = Clock::now() + std::chrono::duration<double>(after);
    while (!ended && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const Clock::time_point asked = Clock::now();
    const std::size_t folders = counting.folders.load();
    stop = true;
    walk.join();
    if (end < asked) {
        std::printf("the walk ended before the stop, after %zu folders\n", folders);
        return 1;
    }
    const auto seconds = [&](Clock::time_point at) {
        return std::chrono::duration<double>(at - asked).count();
    };
    std::printf("stop after %.1f s, %zu folders done: walk ended %.3f s later", after, folders,
                seconds(end));
    if (counting.seen) std::printf(" (its visitor told %.3f s later)", seconds(*counting.seen));
    std::printf("\n");
    return 0;
}
