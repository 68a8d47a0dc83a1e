#pragma once

#include <string>
#include <utility>
#include <vector>

#include "search/searchfiles.h"
#include "tests/support/walk_events.h"

namespace kestrafin::testing {

// Keeps everything a walk reports.
struct RecordingSink : WalkHooks {
    std::vector<std::string> entries;
    std::vector<std::string> unreadable;
    std::vector<std::string> cycles;
    std::vector<std::string> link_webs;
    std::vector<std::string> kernel_skips;
    std::vector<std::pair<std::string, search::NotEntered>> not_entered;
    std::vector<std::string> system_folders;
    std::vector<std::string> path_cycles;
    std::vector<std::string> link_depths;
    std::vector<std::string> folders;
    std::size_t stop_after_folders = 0;  // 0: never stop

    void add_entry(std::string_view text) override { entries.emplace_back(text); }
    void folder_unreadable(std::string_view directory, int) override {
        unreadable.emplace_back(directory);
    }
    // Loops, link webs and kernel file systems go to lists of their own.
    void folder_not_entered(std::string_view directory, search::NotEntered reason) override {
        switch (reason) {
            case search::NotEntered::cycle:
                cycles.emplace_back(directory);
                return;
            case search::NotEntered::link_web:
                link_webs.emplace_back(directory);
                return;
            case search::NotEntered::kernel_file_system:
                kernel_skips.emplace_back(directory);
                return;
            default:
                break;
        }
        not_entered.emplace_back(directory, reason);
        if (reason == search::NotEntered::system_folder) system_folders.emplace_back(directory);
        if (reason == search::NotEntered::path_cycle) path_cycles.emplace_back(directory);
        if (reason == search::NotEntered::too_many_links) link_depths.emplace_back(directory);
    }
    void folder_done(std::string_view directory) override { folders.emplace_back(directory); }
    bool should_stop() override {
        return stop_after_folders != 0 && folders.size() >= stop_after_folders;
    }
};

inline std::vector<std::string> search_entries(const std::string& root) {
    RecordingSink sink;
    search::searchfiles(root, sink);
    return sink.entries;
}

}  // namespace kestrafin::testing
