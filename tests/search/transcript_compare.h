// Comparing what two walks told their sinks, and counting what a process holds.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace kestrafin::testing {

// Empty when both transcripts agree; else where they first part.
inline std::string first_difference(const std::vector<std::string>& got,
                                    const std::vector<std::string>& expected) {
    for (std::size_t at = 0; at < std::max(got.size(), expected.size()); ++at) {
        const std::string one = at < got.size() ? got[at] : "(nothing)";
        const std::string other = at < expected.size() ? expected[at] : "(nothing)";
        if (one != other)
            return "call " + std::to_string(at) + ": got '" + one + "', expected '" + other + "'";
    }
    return {};
}

// The entries of a folder such as /proc/self/task or /proc/self/fd.
inline std::size_t entries_in(const char* folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

// The threads of this process once those already joined have gone: a joined
// thread may stay listed in /proc/self/task for a moment while the kernel
// tears it down, so wait until no more than `expected` are left (a thread
// that was not joined stays, and the count says so after ten seconds).
inline std::size_t threads_once_joined_are_gone(std::size_t expected) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::size_t threads = entries_in("/proc/self/task");
    while (threads > expected && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::yield();
        threads = entries_in("/proc/self/task");
    }
    return threads;
}

}  // namespace kestrafin::testing
