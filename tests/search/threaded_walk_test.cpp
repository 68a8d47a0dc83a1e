// The walk with reader threads on real trees: whatever the thread count, the
// sink hears exactly what the walk on one thread tells it, in the same order.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "search/folder_listing.h"
#include "search/read_ahead.h"
#include "search/searchfiles.h"
#include "search/walk_seams.h"
#include "tests/search/recording_sink.h"
#include "tests/search/transcript_compare.h"
#include "tests/support/child_process.h"
#include "tests/support/silent_share.h"
#include "tests/support/temp_tree.h"
#include "tools/tree_generator.h"

using namespace kestrafin::testing;
using kestrafin::search::NotEntered;
using kestrafin::search::searchfiles;
using kestrafin::search::SearchOptions;
using kestrafin::search::WalkSeams;

namespace {

// Every call the sink receives, in order, as one text per call.
struct TranscriptSink : kestrafin::testing::WalkHooks {
    std::vector<std::string> calls;
    void add_entry(std::string_view text) override {
        calls.push_back("entry " + std::string(text));
    }
    void folder_unreadable(std::string_view directory, int error) override {
        calls.push_back("unreadable " + std::to_string(error) + " " + std::string(directory));
    }
    void folder_not_entered(std::string_view directory, NotEntered reason) override {
        const char* what = reason == NotEntered::cycle                ? "cycle "
                           : reason == NotEntered::link_web           ? "web "
                           : reason == NotEntered::kernel_file_system ? "kernel "
                                                                      : nullptr;
        if (what != nullptr) calls.push_back(what + std::string(directory));
    }
    void folder_done(std::string_view directory) override {
        calls.push_back("done " + std::string(directory));
    }
};

// Also notes the most threads the process ran while the walk went on.
struct ThreadCountingSink : TranscriptSink {
    std::size_t most_threads = 0;
    void folder_done(std::string_view directory) override {
        TranscriptSink::folder_done(directory);
        most_threads = std::max(most_threads, entries_in("/proc/self/task"));
    }
};

std::vector<std::string> transcript(const std::string& root, const SearchOptions& options,
                                    const WalkSeams& seams = {}) {
    TranscriptSink sink;
    searchfiles(root, sink, options, seams);
    return sink.calls;
}

// A tree with what breaks walks: webs of links, links back up, a link to
// itself, dangling links and links to files, a FIFO, an unreadable folder,
// names with line breaks, escape sequences, bytes that are no UTF-8, and
// names of 255 bytes; deep enough that folders pass 200 characters.
void make_hostile_tree(const std::string& top) {
    std::string level = top;
    for (int depth = 0; depth < 12; ++depth) {  // two links to the next level at each
        const std::string next = make_folder_chain(level, {"level" + std::to_string(depth)},
                                                   {"f" + std::to_string(depth)});
        make_link(next, level + "/to-next-a");
        make_link(next, level + "/to-next-b");
        level = next;
    }
    make_link(top, level + "/back-to-top");
    make_link(".", level + "/itself");
    make_link(top + "/missing", top + "/dangling");
    make_file(top + "/plain");
    make_link(top + "/plain", top + "/to-file");
    mkfifo((top + "/fifo").c_str(), 0644);
    const std::string odd =
        make_folder_chain(top,
                          {"line\nbreak", "escape \x1b[31mred", "not utf-8 \xff\xfe",
                           std::string(255, 'n'), std::string(255, 'm')},
                          {"a file", std::string(255, 'f'), "\xe8\xa8\xad\xe5\xae\x9a"});
    make_folder_chain(odd, {"closed"}, {"hidden"});
    chmod((odd + "/closed").c_str(), 0);
    for (int side = 0; side < 40; ++side)
        make_folder_chain(odd, {"side" + std::to_string(side)}, {"s1", "s2"});
}

}  // namespace

TEST(ThreadedWalk, EveryThreadCountTellsTheSinkExactlyWhatOneThreadTellsIt) {
    TempFolder tree;
    chmod(tree.path().c_str(), 0755);
    make_folder(tree / "generated");
    kestrafin::tools::generate_tree(tree / "generated", [] {
        kestrafin::tools::TreeShape shape;
        shape.folders = 600;
        shape.files = 3000;
        return shape;
    }());
    make_folder(tree / "hostile");
    make_hostile_tree(tree / "hostile");

    const AsOrdinaryUser ordinary;  // so that the closed folder cannot be read
    for (const std::string& root : {tree.path(), tree / "hostile/"}) {
        for (const std::size_t open_folders : {64, 4}) {
            const auto serial =
                transcript(root, {.longer_than = 100, .open_folders = open_folders});
            ASSERT_GT(serial.size(), 200u) << root << ": " << serial.front();
            if (ordinary.was_root) {
                const auto unreadable = [](const std::string& call) {
                    return call.starts_with("unreadable ");
                };
                EXPECT_TRUE(std::any_of(serial.begin(), serial.end(), unreadable)) << root;
            }
            for (const std::size_t threads : {2, 8, 64})
                for (int run = 0; run < 4; ++run)
                    ASSERT_EQ(first_difference(transcript(root,
                                                          {.longer_than = 100,
                                                           .open_folders = open_folders,
                                                           .threads = threads},
                                                          {.read_ahead_after_folders = 1}),
                                               serial),
                              "")
                        << root << ", " << threads << " threads, " << open_folders
                        << " open folders, run " << run;
            // The walk on one thread hands its descent over part way through,
            // with closed folders among it when the budget is small.
            for (const std::size_t after : {2, 9, 60, 400})
                ASSERT_EQ(
                    first_difference(
                        transcript(root,
                                   {.longer_than = 100, .open_folders = open_folders, .threads = 8},
                                   {.read_ahead_after_folders = after}),
                        serial),
                    "")
                    << root << ", handed over after " << after << " folders, " << open_folders
                    << " open folders";
            // Reading ahead only once reads wait: on a local disk they seldom do.
            EXPECT_EQ(
                first_difference(transcript(root, {.longer_than = 100, .threads = 64}), serial),
                "");
        }
    }
}

TEST(ThreadedWalk, UnderAHandleLimitEveryThreadCountTellsWhatOneThreadTells) {
    // Readers and the descent share the few handles left: readers give up
    // folders they cannot keep open, and the walk never loses its own, also
    // where the process holds many handles already (left open by a parent).
    // A chain of 100 levels with a side folder at each has the descent use
    // its whole share.
    TempFolder tree;
    kestrafin::tools::TreeShape shape;
    shape.folders = 1500;
    shape.files = 3000;
    kestrafin::tools::generate_tree(tree.path(), shape);
    std::string chain = tree.path();
    for (int level = 0; level < 100; ++level) {
        chain = make_folder_chain(chain, {"c"});
        make_folder_chain(chain, {"side"}, {"f"});
    }
    struct Limit {
        rlim_t handles;
        int held;
    };
    for (const Limit row : {Limit{150, 0}, Limit{256, 200}}) {
        const TimedChildResult result = run_in_child([&] {
            const rlimit limit{row.handles, row.handles};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) throw SkipInChild{"setrlimit refused"};
            for (int held = 0; held < row.held; ++held)
                if (open("/dev/null", O_RDONLY) < 0) throw SkipInChild{"no handle to hold"};
            const auto serial = transcript(tree.path(), {.longer_than = 100});
            std::string differences;
            for (const std::string& call : serial)
                if (call.starts_with("unreadable")) differences += call + "\n";
            for (const std::size_t threads : {2, 64})
                for (const std::size_t after : {1, 200})
                    differences += first_difference(
                        transcript(tree.path(), {.longer_than = 100, .threads = threads},
                                   {.read_ahead_after_folders = after}),
                        serial);
            return std::to_string(serial.size() > 1000) + differences;
        });
        if (result.status == kChildSkipped) GTEST_SKIP() << result.output;
        EXPECT_EQ(result.output, "1") << row.handles << " handles, " << row.held << " held";
    }
}

TEST(ThreadedWalk, AWalkStoppedEarlyLeavesNoThreadAndNoOpenFolderBehind) {
    TempFolder tree;
    kestrafin::tools::TreeShape shape;
    shape.folders = 400;
    shape.files = 400;
    kestrafin::tools::generate_tree(tree.path(), shape);
    // A stopped walk leaves readers that still read to end on their own.
    const auto walk_until = [&](std::size_t stop_after) {
        RecordingSink sink;
        sink.stop_after_folders = stop_after;
        searchfiles(tree.path(), sink, {.longer_than = 0, .threads = 64},
                    {.read_ahead_after_folders = 1});
        while (kestrafin::search::ReadAhead::abandoned_readers() > 0) std::this_thread::yield();
        return sink;
    };
    // A first walk that starts readers and ends whole, joining them, so that
    // threads a sanitizer starts with the first thread are there before
    // counting, and no reader left to end on its own is still leaving.
    walk_until(0);
    const std::size_t threads_before = entries_in("/proc/self/task");
    const std::size_t handles_before = entries_in("/proc/self/fd");
    for (const std::size_t stop_after : {1, 5, 50}) {
        const RecordingSink sink = walk_until(stop_after);
        EXPECT_EQ(sink.folders.size(), stop_after);
        EXPECT_EQ(threads_once_joined_are_gone(threads_before), threads_before)
            << "stopped after " << stop_after;
        EXPECT_EQ(entries_in("/proc/self/fd"), handles_before) << "stopped after " << stop_after;
    }
}

// An open folder keeps others from renaming the folders above it on some
// hosts, so a walk holds only its descent's handles and a few per thread.
// The sink counts them as each folder is done, the walk waiting meanwhile.
TEST(ThreadedWalk, AWalkOfTwentyThousandFoldersHoldsAFewHandlesPerThread) {
    TempFolder tree;
    kestrafin::tools::TreeShape shape;
    shape.folders = 20'000;
    shape.files = 2'000;
    kestrafin::tools::generate_tree(tree.path(), shape);
    struct HandleCountingSink : kestrafin::testing::WalkHooks {
        std::size_t folders = 0;
        std::size_t most_open = 0;
        void add_entry(std::string_view) override {}
        void folder_done(std::string_view) override {
            ++folders;
            most_open = std::max(most_open, entries_in("/proc/self/fd"));
        }
    };
    const std::size_t before = entries_in("/proc/self/fd");
    const SearchOptions options{.threads = kestrafin::search::kDefaultThreads};
    HandleCountingSink sink;
    searchfiles(tree.path(), sink, options, {.read_ahead_after_folders = 1});
    ASSERT_GT(sink.folders, 20'000u);
    EXPECT_LE(
        sink.most_open - before,
        options.open_folders + 1 + kestrafin::search::kHandlesMostPerThread * options.threads);
}

// A reader opens a folder again by its path when its handle was let go; a
// folder put in its place meanwhile is never read for it. Each c<n> holds
// two levels of two folders: with one reader, c<n> and the first folder in
// it keep the two handles kept, so the first folder below that is opened
// again for its subfolders, and it is swapped for another as it is first
// listed, from within the listing. The walk waits in the first c<n> it
// enters until the reader has met every other, so that the reader, not
// the walk, reads below them.
TEST(ThreadedWalk, AFolderSwappedAfterItWasReadAheadIsNeverReadInItsPlace) {
    TempFolder tree;
    make_folder(tree / "root");
    make_folder(tree / "spare");
    constexpr std::size_t kSwapped = 20;
    for (std::size_t at = 0; at < kSwapped; ++at) {
        const std::string name = "c" + std::to_string(at);
        for (const char* middle : {"m", "n"})
            for (const char* low : {"p", "q"})
                for (const char* below : {"d1", "d2"})
                    make_folder_chain(tree / "root", {name, middle, low, below}, {"kept"});
        // In its place: the same names and one more, so that the walk too
        // tells it from the folder it read.
        for (const char* below : {"d1", "d2", "e"})
            make_folder_chain(tree / "spare", {name, below}, {"swapped"});
    }
    struct Swapper : kestrafin::search::NameExclusion {
        std::string top;
        mutable std::mutex mutex;
        mutable std::condition_variable changed;
        mutable std::set<std::string> swapped;  // the c<n> whose folder was swapped
        bool excludes(std::string_view folder, std::string_view) const override {
            if (std::count(folder.begin(), folder.end(), '/') != 2) return false;
            const std::string name(folder.substr(0, folder.find('/')));
            const std::lock_guard lock(mutex);
            if (!swapped.insert(name).second) return false;
            const std::string place = top + "/root/" + std::string(folder);
            const std::string spare = top + "/spare/" + name;
            const std::string away = top + "/spare/" + name + ".read";
            EXPECT_EQ(rename(place.c_str(), away.c_str()), 0) << place;
            EXPECT_EQ(rename(spare.c_str(), place.c_str()), 0) << spare;
            changed.notify_all();
            return false;
        }
    } swapper;
    swapper.top = tree.path();
    struct WaitingSink : TranscriptSink {
        Swapper* swapper = nullptr;
        std::size_t done = 0;
        void folder_done(std::string_view directory) override {
            TranscriptSink::folder_done(directory);
            if (++done != 2) return;  // the root's is the first
            std::unique_lock lock(swapper->mutex);
            swapper->changed.wait_for(lock, std::chrono::minutes(1),
                                      [&] { return swapper->swapped.size() >= kSwapped - 1; });
        }
    } sink;
    sink.swapper = &swapper;
    searchfiles(tree / "root", sink,
                {.longer_than = 0, .exclusion = {std::shared_ptr<void>(), &swapper}, .threads = 2},
                {.read_ahead_after_folders = 1});
    EXPECT_EQ(swapper.swapped.size(), kSwapped);
    for (const std::string& call : sink.calls) EXPECT_EQ(call.find("swapped"), call.npos) << call;
}

#ifdef KESTRAFIN_LATENCY_FS
// The same tree behind the tools' latency file system, as on a share: the
// walk with its default threads lists what it lists on the folder itself.
TEST(ThreadedWalk, AShareWithDelaysListsWhatTheFolderBehindItHolds) {
    if (access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "/dev/fuse cannot be used here, so no share can be mounted";
    TempFolder tree;
    kestrafin::tools::TreeShape shape;
    shape.folders = 500;
    shape.files = 2500;
    // Links would name folders of the source, outside the share; "shared" has
    // as many characters as "source", so the same folders pass the threshold.
    shape.folder_links = 0;
    make_folder(tree / "source");
    make_folder(tree / "shared");
    kestrafin::tools::generate_tree(tree / "source", shape);

    const pid_t server = fork();
    if (server == 0) {
        const std::string source = tree / "source", share = tree / "shared";
        execl(KESTRAFIN_LATENCY_FS, KESTRAFIN_LATENCY_FS, source.c_str(), share.c_str(), "1",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(server, 0);
    const auto mounted = [&] {
        struct statfs share {};
        struct statfs source {};
        return statfs((tree / "shared").c_str(), &share) == 0 &&
               statfs((tree / "source").c_str(), &source) == 0 && share.f_type != source.f_type;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!mounted() && waitpid(server, nullptr, WNOHANG) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!mounted()) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        GTEST_SKIP() << "the latency file system could not be mounted here";
    }

    std::vector<std::string> expected;
    for (const std::string& call : transcript(tree / "source", {.longer_than = 50})) {
        std::string shared = call;
        const std::size_t at = shared.find(tree / "source");
        if (at != std::string::npos) shared.replace(at, (tree / "source").size(), tree / "shared");
        expected.push_back(shared);
    }
    // Each read waits for the share, so the walk soon reads ahead.
    const std::size_t threads_before = entries_in("/proc/self/task");
    ThreadCountingSink on_share;
    searchfiles(tree / "shared", on_share, {.longer_than = 50, .threads = 64});
    const auto& listed = on_share.calls;
    const int unmounted = std::system(("fusermount3 -u '" + tree / "shared" + "'").c_str());
    int status = 0;
    waitpid(server, &status, 0);
    EXPECT_EQ(unmounted, 0);
    EXPECT_EQ(first_difference(listed, expected), "");
    EXPECT_GT(on_share.most_threads, threads_before) << "no reader started on the share";
}

// The walk enters a folder through one link at most, so readers read it
// through one link at most too, where a web of links to it once had them
// read it once for each link.
TEST(ThreadedWalk, AFolderManyLinksLeadToIsReadAheadThroughOneOfThemAtMost) {
    ShareFolders folders;
    const auto in_source = [&](const std::string& name) { return folders.source + "/" + name; };
    make_folder(in_source("many"));
    constexpr int kFolders = 10;
    for (int folder = 0; folder < kFolders; ++folder) {
        const std::string name = "f" + std::to_string(folder);
        make_folder(in_source(name));
        for (int link = 0; link < 20; ++link)
            make_link("../many", in_source(name + "/l" + std::to_string(link)));
    }
    ShareServer server(folders.source, folders.share, StopsBySelf::never, 1, true);
    if (!server.serving()) GTEST_SKIP() << server.why_not();
    TranscriptSink on_one_thread;
    searchfiles(folders.share, on_one_thread, {.threads = 1});
    const long reads_on_one_thread = server.folder_reads_served();
    TranscriptSink with_readers;
    searchfiles(folders.share, with_readers, {.threads = 64});
    const long reads_with_readers = server.folder_reads_served();
    EXPECT_EQ(with_readers.calls, on_one_thread.calls);
    ASSERT_GT(reads_on_one_thread, 0);
    // Each folder is read once, "many" perhaps once more through a link; it
    // was read through most of the 200 links.
    EXPECT_LE(reads_with_readers, 2 * reads_on_one_thread) << reads_on_one_thread;
}
#endif
