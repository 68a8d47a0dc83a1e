// Comparing what two walks told their sinks, and counting what a process holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
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

}  // namespace kestrafin::testing
