// Readers starting to read ahead at every folder of small trees built to
// break the walk: the sink hears exactly what it hears from the walk that
// never starts them, asks included.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "search/searchfiles.h"
#include "search/walk_seams.h"
#include "tests/search/transcript_compare.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_tree.h"
#include "tests/support/walk_events.h"

using namespace kestrafin::testing;
using kestrafin::search::searchfiles;
using kestrafin::search::NotEntered;
using kestrafin::search::SearchOptions;
using kestrafin::search::WalkSeams;

namespace {

struct SinkFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Every call the sink receives, asks to stop included, as one text per call.
// It may stop the walk at its n-th ask, throw at its n-th call, or change the
// tree when a folder has been read.
struct TranscriptSink : kestrafin::testing::WalkHooks {
    std::vector<std::string> calls;
    std::size_t stop_at_ask = 0;    // 0: never
    std::size_t throw_at_call = 0;  // 0: never
    std::function<void(std::string_view)> after_folder;
    std::size_t asks = 0;

    void note(std::string call) {
        calls.push_back(std::move(call));
        if (calls.size() == throw_at_call) throw SinkFault("the sink failed");
    }
    void add_entry(std::string_view text) override { note("entry " + std::string(text)); }
    void folder_unreadable(std::string_view directory, int error) override {
        note("unreadable " + std::to_string(error) + " " + std::string(directory));
    }
    void folder_not_entered(std::string_view directory, NotEntered reason) override {
        const char* what = reason == NotEntered::cycle                ? "cycle "
                           : reason == NotEntered::link_web           ? "web "
                           : reason == NotEntered::kernel_file_system ? "kernel "
                                                                      : nullptr;
        if (what != nullptr) note(what + std::string(directory));
    }
    void folder_done(std::string_view directory) override {
        note("done " + std::string(directory));
        if (after_folder) after_folder(directory);
    }
    bool should_stop() override {
        note("ask");
        return ++asks == stop_at_ask;
    }
};

std::size_t folders_in(const std::vector<std::string>& calls) {
    return static_cast<std::size_t>(
        std::count_if(calls.begin(), calls.end(),
                      [](const std::string& call) { return call.starts_with("done "); }));
}

// Links back up, a link web, a dangling link, a FIFO, an unreadable folder
// and a side folder at each of a few levels.
void make_hostile_tree(const std::string& top) {
    std::string level = top;
    for (int depth = 0; depth < 5; ++depth) {
        const std::string next = make_folder_chain(level, {"level" + std::to_string(depth)},
                                                   {"f" + std::to_string(depth)});
        make_link(next, level + "/to-next-a");
        make_link(next, level + "/to-next-b");
        make_folder_chain(level, {"side" + std::to_string(depth)}, {"s"});
        level = next;
    }
    make_link(top, level + "/back-to-top");
    make_link(".", level + "/itself");
    make_link(top + "/missing", top + "/dangling");
    mkfifo((top + "/fifo").c_str(), 0644);
    make_folder_chain(top, {"closed"}, {"hidden"});
    chmod((top + "/closed").c_str(), 0);
}

// Each level of the deep tree: two bytes and four, one code unit and two.
const std::string kLevel = "\xc3\xa9\xf0\x9d\x84\x9e";

// A chain deeper than a budget of four handles, with siblings on both sides
// of each level, so that folders lent to the readers have closed handles and
// subfolders left before and after.
void make_deep_tree(const std::string& top) {
    std::string level = top;
    for (int depth = 0; depth < 14; ++depth) {
        make_folder_chain(level, {"a" + std::to_string(depth)}, {"x"});
        const std::string next = make_folder_chain(level, {kLevel}, {"y"});
        make_folder_chain(level, {"z" + std::to_string(depth)}, {"w"});
        level = next;
    }
}

// Paths past 4096 bytes, with a branch holding a file at each level; built
// relative to open folders, since the host refuses such paths.
void make_long_tree(const std::string& top) {
    int level = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int depth = 0; depth < 20; ++depth) {
        const std::string name(250, static_cast<char>('a' + depth));
        for (const char* branch : {"b", name.c_str()}) {
            const int made = mkdirat(level, branch, 0755);
            const int child = openat(level, branch, O_RDONLY | O_DIRECTORY);
            const int file = openat(child, "f", O_WRONLY | O_CREAT, 0644);
            if (made != 0 || child < 0 || file < 0) throw std::runtime_error("long tree");
            close(file);
            if (branch == name.c_str()) {
                close(level);
                level = child;
            } else {
                close(child);
            }
        }
    }
    close(level);
}

// A walk's options, and when its readers start.
struct Walk {
    SearchOptions options = {};
    WalkSeams seams = {};
};

std::vector<std::string> transcript(const std::string& root, const Walk& walk,
                                    TranscriptSink sink = {}) {
    searchfiles(root, sink, walk.options, walk.seams);
    return sink.calls;
}

class ReadersStarting : public ::testing::Test {
  protected:
    void SetUp() override {
        chmod(tree_.path().c_str(), 0755);
        make_folder(tree_ / "hostile");
        make_hostile_tree(tree_ / "hostile");
        make_folder(tree_ / "deep");
        make_deep_tree(tree_ / "deep");
        make_folder(tree_ / "long");
        make_long_tree(tree_ / "long");
    }
    std::vector<std::string> roots() const {
        return {tree_ / "hostile", tree_ / "deep", tree_ / "long"};
    }
    // Folders a few levels down pass the threshold, so that a miscount of
    // a path's length in UTF-16 code units shows.
    Walk on_one_thread(std::size_t open_folders) const {
        return {.options = {.longer_than = tree_.path().size() + 16, .open_folders = open_folders}};
    }
    Walk starting_after(std::size_t open_folders, std::size_t threads, std::size_t after) const {
        Walk walk = on_one_thread(open_folders);
        walk.options.threads = threads;
        walk.seams.read_ahead_after_folders = after;
        return walk;
    }
    TempFolder tree_;
};

}  // namespace

TEST_F(ReadersStarting, AtEveryFolderTheSinkHearsWhatTheWalkOnOneThreadTellsIt) {
    const AsOrdinaryUser ordinary;  // so that the closed folder cannot be read
    for (const std::string& root : roots()) {
        for (const std::size_t open_folders : {4, 64}) {
            const auto serial = transcript(root, on_one_thread(open_folders));
            const std::size_t folders = folders_in(serial);
            ASSERT_GT(folders, 10u) << root;
            const auto told = [&](const std::string& what) {
                return std::any_of(serial.begin(), serial.end(),
                                   [&](const std::string& call) { return call.starts_with(what); });
            };
            if (root == tree_ / "hostile") {
                EXPECT_TRUE(told("cycle ") && told("web ") &&
                            (!ordinary.was_root || told("unreadable ")));
            }
            for (const std::size_t threads : {2, 8})
                for (std::size_t after = 1; after <= folders; ++after)
                    ASSERT_EQ(
                        first_difference(
                            transcript(root, starting_after(open_folders, threads, after)), serial),
                        "")
                        << root << ", readers started after " << after << " folders, " << threads
                        << " threads, " << open_folders << " open folders";
        }
    }
}

TEST_F(ReadersStarting, ASinkThatStopsAtAnyAskStopsBothWalksAtTheSamePlace) {
    for (const std::string& root : roots()) {
        const auto whole = transcript(root, on_one_thread(4));
        const std::size_t folders = folders_in(whole);
        const auto asks = static_cast<std::size_t>(std::count(whole.begin(), whole.end(), "ask"));
        for (std::size_t stop_at = 1; stop_at <= asks; stop_at += 3) {
            TranscriptSink stopping;
            stopping.stop_at_ask = stop_at;
            const auto serial = transcript(root, on_one_thread(4), stopping);
            for (std::size_t after = 1; after <= folders; after += 2)
                ASSERT_EQ(first_difference(transcript(root, starting_after(4, 8, after), stopping),
                                           serial),
                          "")
                    << root << ", stopped at ask " << stop_at << ", readers started after "
                    << after;
        }
    }
}

TEST_F(ReadersStarting, ASinkThatThrowsEndsTheWalkAndLeavesNoThreadOrHandleBehind) {
    const std::string root = tree_ / "deep";
    // Threads a sanitizer starts with the first thread come before counting.
    transcript(root, starting_after(4, 8, 1));
    const std::size_t threads_before = entries_in("/proc/self/task");
    const std::size_t handles_before = entries_in("/proc/self/fd");
    const auto whole = transcript(root, on_one_thread(4));
    const std::size_t folders = folders_in(whole);
    for (std::size_t throw_at = 1; throw_at <= whole.size(); throw_at += 7) {
        for (std::size_t after = 1; after <= folders; after += 3) {
            TranscriptSink throwing;
            throwing.throw_at_call = throw_at;
            const Walk walk = starting_after(4, 8, after);
            EXPECT_THROW(searchfiles(root, throwing, walk.options, walk.seams), SinkFault)
                << "call " << throw_at << ", readers started after " << after;
            EXPECT_EQ(
                first_difference(throwing.calls,
                                 {whole.begin(), whole.begin() + static_cast<long>(throw_at)}),
                "");
            EXPECT_EQ(threads_once_joined_are_gone(threads_before), threads_before);
            EXPECT_EQ(entries_in("/proc/self/fd"), handles_before);
        }
    }
}

// The tree changes while the walk is still on one thread: a folder it has
// read, and closed for the budget, is swapped for another; siblings it may
// not have read yet are replaced by links. The walk whose readers start
// later meets the changes as the walk on one thread does.
TEST_F(ReadersStarting, ATreeChangedBeforeReadersStartIsMetAsTheWalkOnOneThreadMeetsIt) {
    const std::string root = tree_ / "deep";
    const auto depth_of = [&](std::string_view folder) {
        return std::count(folder.begin() + static_cast<long>(root.size()), folder.end(), '/');
    };
    bool changed = false;
    std::size_t folders_seen = 0;
    std::size_t changed_at_folder = 0;
    const auto change = [&](std::string_view done) {
        ++folders_seen;
        if (changed || depth_of(done) < 8) return;
        changed = true;
        changed_at_folder = folders_seen;
        std::rename((root + "/" + kLevel).c_str(), (root + "/old").c_str());
        make_folder_chain(root, {kLevel, kLevel, kLevel}, {"new"});
        for (const char* sibling : {"/a0", "/z0"}) {
            std::filesystem::remove_all(root + sibling);
            make_link(root, root + sibling);
        }
    };
    const auto restore = [&] {
        std::filesystem::remove_all(root);
        make_folder(root);
        make_deep_tree(root);
        changed = false;
    };
    TranscriptSink changing;
    changing.after_folder = change;
    const auto serial = transcript(root, on_one_thread(4), changing);
    ASSERT_GT(changed_at_folder, 0u);
    restore();
    // The walk came back to a swapped folder and found another in its place.
    ASSERT_TRUE(std::any_of(serial.begin(), serial.end(), [&](const std::string& call) {
        return call == "unreadable " + std::to_string(ENOENT) + " " + root + "/" + kLevel;
    }));
    for (std::size_t after = changed_at_folder; after <= folders_in(serial); after += 2) {
        ASSERT_EQ(first_difference(transcript(root, starting_after(4, 8, after), changing), serial),
                  "")
            << "readers started after " << after;
        restore();
    }
}

// Bind mounts of an ancestor and of a sibling inside the tree, and a proc
// file system: the mount that leads back is a cycle, the other a second way
// into one folder, and proc is skipped, wherever readers start.
TEST_F(ReadersStarting, MountsInsideTheTreeAreMetAsTheWalkOnOneThreadMeetsThem) {
    const std::string root = tree_ / "hostile";
    make_folder(root + "/level0/up");
    make_folder(root + "/level0/level1/again");
    make_folder(root + "/level0/level1/level2/proc");
    const TimedChildResult result = run_in_child([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
            throw SkipInChild{std::string("no private mount namespace: ") + std::strerror(errno)};
        if (mount(root.c_str(), (root + "/level0/up").c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount((root + "/side0").c_str(), (root + "/level0/level1/again").c_str(), nullptr,
                  MS_BIND, nullptr) != 0 ||
            mount("proc", (root + "/level0/level1/level2/proc").c_str(), "proc", 0, nullptr) != 0)
            throw SkipInChild{std::string("mount refused: ") + std::strerror(errno)};
        const auto serial = transcript(root, on_one_thread(4));
        if (std::count(serial.begin(), serial.end(), "cycle " + root + "/level0/up") != 1 ||
            std::count(serial.begin(), serial.end(),
                       "kernel " + root + "/level0/level1/level2/proc") != 1)
            return std::string("the mount of the root or proc was not skipped");
        std::string differences;
        for (std::size_t after = 1; after <= folders_in(serial); ++after) {
            const std::string difference =
                first_difference(transcript(root, starting_after(4, 8, after)), serial);
            if (!difference.empty())
                differences += "after " + std::to_string(after) + ": " + difference + "\n";
        }
        return differences;
    });
    if (result.skipped()) GTEST_SKIP() << result.output;
    ASSERT_TRUE(result.succeeded()) << result.output;
    EXPECT_EQ(result.output, "");
}

// A chain far deeper than the budget, whose paths pass 4096 bytes, with
// readers starting near its top, in its middle and at its bottom.
TEST_F(ReadersStarting, AChainFarDeeperThanTheBudgetIsWalkedWhereverReadersStart) {
    constexpr std::size_t kLevels = 1000;
    const std::string root = tree_ / "chain";
    make_folder(root);
    int level = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (std::size_t depth = 0; depth < kLevels; ++depth) {
        const std::string side = "side" + std::to_string(depth % 7);
        const bool made =
            mkdirat(level, side.c_str(), 0755) == 0 && mkdirat(level, "deep", 0755) == 0;
        const int file = openat(level, (side + "/f").c_str(), O_WRONLY | O_CREAT, 0644);
        const int child = openat(level, "deep", O_RDONLY | O_DIRECTORY);
        ASSERT_TRUE(made && file >= 0 && child >= 0) << depth;
        close(file);
        close(level);
        level = child;
    }
    close(level);
    const std::size_t handles_before = entries_in("/proc/self/fd");
    const auto serial = transcript(root, on_one_thread(4));
    ASSERT_EQ(folders_in(serial), 2 * kLevels + 1);
    for (const std::size_t after : {std::size_t{2}, std::size_t{600}, 2 * kLevels - 3, 2 * kLevels})
        EXPECT_EQ(first_difference(transcript(root, starting_after(4, 8, after)), serial), "")
            << "readers started after " << after;
    EXPECT_EQ(entries_in("/proc/self/fd"), handles_before);
}

// Folders in memory never make reads wait, so a walk with 64 threads to use
// starts a reader on each processor but the walk's, which reads too: more
// would only crowd them.
TEST_F(ReadersStarting, AWarmLocalTreeIsReadAheadByNoMoreReadersThanProcessorsBesidesTheWalk) {
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "under ThreadSanitizer the readers' threads block on its runtime's locks, so "
                    "their reads are rightly found to wait";
#endif
    struct ThreadCountingSink : TranscriptSink {
        std::size_t most_threads = 0;
        void folder_done(std::string_view directory) override {
            TranscriptSink::folder_done(directory);
            most_threads = std::max(most_threads, entries_in("/proc/self/task"));
        }
    };
    make_folder(tree_ / "wide");
    for (int folder = 0; folder < 300; ++folder)
        make_folder_chain(tree_ / "wide", {"folder" + std::to_string(folder), "below"},
                          {"a", "b", "c"});
    const auto serial = transcript(tree_.path(), on_one_thread(64));  // and now in memory
    const std::size_t threads_before = entries_in("/proc/self/task");
    for (int run = 0; run < 3; ++run) {
        ThreadCountingSink sink;
        SearchOptions options = on_one_thread(64).options;
        options.threads = 64;
        searchfiles(tree_.path(), sink, options);
        EXPECT_EQ(first_difference(sink.calls, serial), "");
        EXPECT_LE(sink.most_threads,
                  threads_before + std::max(2u, std::thread::hardware_concurrency()) - 1)
            << "run " << run;
    }
}
