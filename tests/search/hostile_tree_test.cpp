// Trees built to break a walk: webs of links, mounts that lead back, kernel
// file systems, very long names, very deep trees, folders swapped mid-walk.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statfs.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "search/searchfiles.h"
#include "search/walk_seams.h"
#include "tests/search/recording_sink.h"
#include "tests/search/transcript_compare.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_tree.h"
#ifdef KESTRAFIN_TEST_FUSE
#include "tests/support/long_name_fuse.h"
#endif

using namespace kestrafin::testing;
using kestrafin::search::searchfiles;

namespace {

RecordingSink walk_everything(const std::string& root, std::size_t open_folders = 64) {
    RecordingSink sink;
    searchfiles(root, sink, {.longer_than = 0, .open_folders = open_folders});
    return sink;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

// Enters a private mount namespace, so that mounts made by a test are seen by
// no one else and vanish with the child; skips when the host refuses.
void enter_private_mount_namespace() {
    if (unshare(CLONE_NEWNS) != 0)
        throw SkipInChild{std::string("no private mount namespace here: ") + std::strerror(errno)};
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        throw SkipInChild{std::string("mounts cannot be made private: ") + std::strerror(errno)};
}

void expect_child_output(const TimedChildResult& result, const std::string& expected) {
    if (result.skipped()) GTEST_SKIP() << result.output;
    ASSERT_TRUE(result.succeeded()) << "status " << result.status << ": " << result.output;
    EXPECT_EQ(result.output, expected);
}

}  // namespace

TEST(HostileTree, AWebOfLinksEndsAndWalksNoFolderTwiceThroughLinks) {
    // Levels L0..L30 side by side; each holds a file and two links to the next.
    constexpr int kLevels = 31;
    TempFolder tree;
    for (int level = 0; level < kLevels; ++level) {
        const std::string folder = tree / ("L" + std::to_string(level));
        make_folder(folder);
        make_file(folder + "/f" + std::to_string(level));
        if (level + 1 < kLevels) {
            make_link("../L" + std::to_string(level + 1), folder + "/x");
            make_link("../L" + std::to_string(level + 1), folder + "/y");
        }
    }
    const RecordingSink sink = walk_everything(tree.path());

    // Each file under its own folder, and once more down the first chain of
    // links from L0; every other link leads into a folder walked through a link.
    std::map<std::string, int> times_listed;
    for (const auto& entry : sink.entries) ++times_listed[entry.substr(entry.rfind('/') + 1)];
    ASSERT_EQ(times_listed.size(), std::size_t{kLevels});
    EXPECT_EQ(times_listed["f0"], 1);
    for (int level = 1; level < kLevels; ++level)
        EXPECT_EQ(times_listed["f" + std::to_string(level)], 2) << level;
    EXPECT_EQ(sink.entries.size(), std::size_t{2 * kLevels - 1});
    EXPECT_TRUE(sink.cycles.empty());
    EXPECT_TRUE(sink.unreadable.empty());
    // 30 links skipped on the chain from L0, and both links of L1..L29.
    EXPECT_EQ(sink.link_webs.size(), std::size_t{(kLevels - 1) + 2 * (kLevels - 2)});
    for (const auto& skipped : sink.link_webs)
        EXPECT_TRUE(skipped.ends_with("/x") || skipped.ends_with("/y")) << skipped;
}

TEST(HostileTree, LinksToEveryLevelOfAChainWalkEachFolderOnceThroughLinks) {
    // A chain of plain folders and a folder of links to each of its levels. A
    // link to a shallow level leads, through plain folders, into deeper ones
    // that an earlier link may have walked already; whatever order the links
    // come in, no folder is walked twice through links.
    constexpr int kLevels = 40;
    TempFolder tree;
    std::string level_path = tree / "chain";
    make_folder(level_path);
    make_folder(tree / "links");
    for (int level = 0; level < kLevels; ++level) {
        level_path += "/c";
        make_folder(level_path);
        make_file(level_path + "/f" + std::to_string(level));
        make_link(level_path, tree / ("links/l" + std::to_string(level)));
    }
    for (const std::size_t threads : {1, 8}) {
        RecordingSink sink;
        searchfiles(tree.path(), sink, {.longer_than = 0, .threads = threads});

        std::map<std::string, int> times_listed;
        for (const auto& entry : sink.entries) ++times_listed[entry.substr(entry.rfind('/') + 1)];
        ASSERT_EQ(times_listed.size(), std::size_t{kLevels}) << threads << " threads";
        for (int level = 0; level < kLevels; ++level)
            EXPECT_EQ(times_listed["f" + std::to_string(level)], 2)
                << "once in the chain, once through links: level " << level << ", " << threads
                << " threads";
        EXPECT_TRUE(sink.cycles.empty()) << joined(sink.cycles);
        EXPECT_TRUE(sink.unreadable.empty()) << joined(sink.unreadable);
    }
}

TEST(HostileTree, APlainFolderBelowALinkThatTheWalkIsInsideIsNotEntered) {
    // l leads to x/y, and y/up back to x: below l, x's plain subfolder y is
    // the folder l entered, which the walk is still inside.
    TempFolder tree;
    make_folder(tree / "x");
    make_folder(tree / "x/y");
    make_file(tree / "x/y/f");
    make_link("..", tree / "x/y/up");
    make_link("x/y", tree / "l");
    for (const std::size_t threads : {1, 64}) {
        RecordingSink sink;
        searchfiles(tree.path(), sink, {.longer_than = 0, .threads = threads},
                    {.read_ahead_after_folders = 1});
        EXPECT_EQ(std::set<std::string>(sink.entries.begin(), sink.entries.end()),
                  (std::set<std::string>{tree / "l/f", tree / "x/y/f"}))
            << threads << " threads: " << joined(sink.entries);
        EXPECT_EQ(std::set<std::string>(sink.cycles.begin(), sink.cycles.end()),
                  (std::set<std::string>{tree / "l/up/y", tree / "x/y/up"}))
            << threads << " threads";
    }
}

TEST(HostileTree, ABindMountOfAnAncestorIsNotEntered) {
    TempFolder tree;
    const std::string a = make_folder_chain(tree.path(), {"a"}, {"in-a"});
    const std::string b = make_folder_chain(a, {"b"}, {"in-b"});
    make_folder(b + "/loop");
    const TimedChildResult result = run_in_child([&] {
        enter_private_mount_namespace();
        if (mount(a.c_str(), (b + "/loop").c_str(), nullptr, MS_BIND, nullptr) != 0)
            throw SkipInChild{std::string("bind mount refused: ") + std::strerror(errno)};
        const RecordingSink sink = walk_everything(tree.path());
        return joined(sink.entries) + "cycles:\n" + joined(sink.cycles);
    });
    expect_child_output(result, a + "/in-a\n" + b + "/in-b\ncycles:\n" + b + "/loop\n");
}

TEST(HostileTree, ProcAndSysfsMountedInsideTheTreeListNothingButMountsBelowThem) {
    TempFolder tree;
    make_folder_chain(tree.path(), {"proc"});
    make_folder_chain(tree.path(), {"sys"});
    make_folder_chain(tree.path(), {"user"}, {"file"});
    const TimedChildResult result = run_in_child([&] {
        enter_private_mount_namespace();
        if (mount("proc", (tree / "proc").c_str(), "proc", 0, nullptr) != 0 ||
            mount("sysfs", (tree / "sys").c_str(), "sysfs", 0, nullptr) != 0)
            throw SkipInChild{std::string("proc or sysfs cannot be mounted: ") +
                              std::strerror(errno)};
        // A file system that holds user files, mounted below a kernel one, is
        // still walked (as a tmpfs on /dev/shm below devtmpfs).
        if (mount("tmpfs", (tree / "sys/kernel").c_str(), "tmpfs", 0, nullptr) != 0)
            throw SkipInChild{std::string("tmpfs cannot be mounted: ") + std::strerror(errno)};
        make_file(tree / "sys/kernel/shared");
        RecordingSink sink = walk_everything(tree.path());
        std::sort(sink.entries.begin(), sink.entries.end());
        std::sort(sink.kernel_skips.begin(), sink.kernel_skips.end());
        return joined(sink.entries) + "skipped:\n" + joined(sink.kernel_skips);
    });
    expect_child_output(result, tree / "sys/kernel/shared\n" + tree / "user/file\nskipped:\n" +
                                    tree / "proc\n" + tree / "sys\n");
}

TEST(HostileTree, LinksIntoKernelFileSystemsListNothing) {
    TempFolder tree;
    make_folder_chain(tree.path(), {"user"}, {"file"});
    std::set<std::string> linked;
    // /dev is left out: the tmpfs on /dev/shm below it holds user files.
    for (const char* target : {"/proc", "/sys", "/proc/self"}) {
        if (!std::filesystem::is_directory(target)) continue;
        const std::string link = tree / ("to-kernel-" + std::to_string(linked.size()));
        make_link(target, link);
        linked.insert(link);
    }
    if (linked.empty()) GTEST_SKIP() << "neither /proc nor /sys here";
    const RecordingSink sink = walk_everything(tree.path());
    EXPECT_EQ(sink.entries, std::vector<std::string>{tree / "user/file"});
    // Below a link, only the ways to mounts of other file systems are
    // entered, and kernel file systems below them are skipped in turn.
    const std::set<std::string> skipped(sink.kernel_skips.begin(), sink.kernel_skips.end());
    for (const std::string& link : linked) EXPECT_TRUE(skipped.contains(link)) << link;
    for (const std::string& folder : skipped)
        EXPECT_TRUE(std::any_of(linked.begin(), linked.end(), [&](const std::string& link) {
            return folder.starts_with(link);
        })) << folder;
}

namespace {

// A chain of `levels` folders "d" below `root`, each holding a file "f".
void make_deep_chain(const std::string& root, std::size_t levels) {
    int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (std::size_t level = 1; level <= levels; ++level) {
        check(mkdirat(folder, "d", 0755) == 0, "mkdirat");
        const int child = openat(folder, "d", O_RDONLY | O_DIRECTORY);
        check(child >= 0, "openat");
        close(folder);
        folder = child;
        const int file = openat(folder, "f", O_WRONLY | O_CREAT, 0644);
        check(file >= 0, "create");
        close(file);
    }
    close(folder);
}

// Walks the chain in a child whose process may hold `handle_limit` open
// handles, and expects every file of a long enough folder, in order.
void expect_deep_chain_walked(const std::string& root, std::size_t levels, rlim_t handle_limit) {
    const TimedChildResult result = run_in_child(
        [&] {
            const rlimit limit{handle_limit, handle_limit};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) throw SkipInChild{"setrlimit refused"};
            // Checks each entry as it comes: all of them together would fill
            // gigabytes. Level k's file is root + "/d" * k + "/f".
            struct DeepSink : kestrafin::testing::WalkHooks {
                std::size_t root_length = 0, listed = 0, wrong = 0, unreadable = 0;
                std::size_t last_level = 0;
                void add_entry(std::string_view entry) override {
                    const std::size_t level = (entry.size() - root_length - 2) / 2;
                    if (entry.size() != root_length + 2 * level + 2 || !entry.ends_with("d/f") ||
                        level <= last_level)
                        ++wrong;
                    last_level = level;
                    ++listed;
                }
                void folder_unreadable(std::string_view, int) override { ++unreadable; }
            } sink;
            sink.root_length = root.size();
            searchfiles(root, sink);
            return std::to_string(sink.listed) + " listed, " + std::to_string(sink.wrong) +
                   " wrong, " + std::to_string(sink.unreadable) + " unreadable, deepest " +
                   std::to_string(sink.last_level);
        },
        std::chrono::seconds(600));
    std::size_t expected = 0;
    for (std::size_t level = 1; level <= levels; ++level)
        if (root.size() + 2 * level > 200) ++expected;
    expect_child_output(result, std::to_string(expected) +
                                    " listed, 0 wrong, 0 unreadable, deepest " +
                                    std::to_string(levels));
}

}  // namespace

TEST(HostileTree, AHundredThousandLevelsAreWalkedWithinADescriptorLimitOf128) {
    TempFolder tree;
    make_deep_chain(tree.path(), 100000);
    expect_deep_chain_walked(tree.path(), 100000, 128);
}

// A process allowed fewer handles than the walk would keep open by default
// (a strict ulimit, a host that holds many already) still walks to the end.
TEST(HostileTree, ADeepChainIsWalkedWithinADescriptorLimitOf16) {
    TempFolder tree;
    make_deep_chain(tree.path(), 1000);
    expect_deep_chain_walked(tree.path(), 1000, 16);
}

TEST(HostileTree, AFewOpenFoldersWalkADeepBranchyTreeExactlyAsManyDo) {
    // A chain of 300 levels with a side folder holding a file at every level:
    // coming back up, the walk must reopen folders whose handles it closed.
    TempFolder tree;
    std::string folder = tree.path();
    for (int level = 0; level < 300; ++level) {
        folder = make_folder_chain(folder, {"c"});
        make_folder_chain(folder, {"side"}, {"f" + std::to_string(level)});
    }
    const auto open_descriptors = [] { return entries_in("/proc/self/fd"); };
    struct CountingSink : RecordingSink {
        std::size_t* most_open = nullptr;
        std::size_t (*count)() = nullptr;
        void folder_done(std::string_view directory) override {
            RecordingSink::folder_done(directory);
            *most_open = std::max(*most_open, count());
        }
    };
    const auto walk_with = [&](std::size_t open_folders, std::size_t& observed) {
        CountingSink sink;
        sink.most_open = &observed;
        sink.count = open_descriptors;
        searchfiles(tree.path(), sink, {.longer_than = 0, .open_folders = open_folders});
        EXPECT_TRUE(sink.unreadable.empty());
        return sink.entries;
    };
    // Counted as the sink counts: the process's own and the one the count takes.
    const std::size_t before = open_descriptors();
    std::size_t most_open_many = 0;
    const auto with_many = walk_with(1000, most_open_many);
    ASSERT_EQ(with_many.size(), 300u);
    EXPECT_GE(most_open_many, before + 300);
    for (const std::size_t few : {4, 2}) {
        std::size_t most_open_few = 0;
        EXPECT_EQ(walk_with(few, most_open_few), with_many) << few;
        // The budget's, and the folder just read before it joins the descent.
        EXPECT_LE(most_open_few, before + few + 1) << few;
    }
}

namespace {

// Swaps the folder `sub` for a link to its parent and back, one step at each
// call the walk makes to it, from step `phase` on once `wait` calls have
// passed: over every phase and wait, each state of the swap meets each step
// of the walk, between its listing a folder and its opening it among them.
struct SwappingSink : RecordingSink {
    std::string sub, away;
    int phase = 0;
    std::size_t wait = 0;
    std::size_t calls = 0;

    void step() {
        ++calls;
        if (wait > 0) {
            --wait;
            return;
        }
        switch (phase) {
            case 0:
                rename(sub.c_str(), away.c_str());
                break;
            case 1:
                symlink(".", sub.c_str());
                break;  // sub now leads back to its parent
            case 2:
                unlink(sub.c_str());
                break;
            default:
                rename(away.c_str(), sub.c_str());
                break;
        }
        phase = (phase + 1) % 4;
    }
    void add_entry(std::string_view text) override {
        RecordingSink::add_entry(text);
        step();
    }
    void folder_listed(std::string_view, const kestrafin::search::FolderNames&) override {
        step();
    }
    void folder_done(std::string_view directory) override {
        RecordingSink::folder_done(directory);
        step();
    }
    bool should_stop() override {
        step();
        return false;
    }
};

}  // namespace

TEST(HostileTree, AFolderSwappedForALinkToAnAncestorNeverLeadsBackIntoIt) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {"top"}, {"t1", "t2"});
    make_folder_chain(top, {"sub"}, {"s1", "s2"});
    SwappingSink unswapped;
    unswapped.wait = std::size_t(-1);
    searchfiles(top, unswapped, {.longer_than = 0});
    ASSERT_EQ(unswapped.entries.size(), 4u);
    std::size_t met_the_link = 0, walked_sub = 0;
    for (std::size_t wait = 0; wait <= unswapped.calls; ++wait) {
        for (int phase = 0; phase < 4; ++phase) {
            SwappingSink sink;
            sink.sub = top + "/sub";
            sink.away = top + "/sub.away";
            // Steps before the walk put the swap in the state it starts from.
            for (int ahead = 0; ahead < phase; ++ahead) sink.step();
            sink.wait = wait;
            searchfiles(top, sink, {.longer_than = 0});
            while (sink.phase != 0) sink.step();
            // Entering top again lists its own files a second time, under a
            // longer path. (The subfolder itself may be seen under both of its
            // names as it is renamed; that is the host's listing, not a cycle.)
            std::multiset<std::string> top_files;
            for (const std::string& entry : sink.entries)
                if (entry.ends_with("/t1") || entry.ends_with("/t2")) top_files.insert(entry);
            EXPECT_EQ(top_files, (std::multiset<std::string>{top + "/t1", top + "/t2"}))
                << "phase " << phase << " after " << wait << " calls:\n"
                << joined(sink.entries);
            met_the_link += !sink.cycles.empty() || !sink.unreadable.empty();
            walked_sub += static_cast<std::size_t>(
                std::count(sink.entries.begin(), sink.entries.end(), top + "/sub/s1"));
        }
    }
    // The walks met the link in sub's place, and walked sub itself.
    EXPECT_GT(met_the_link, 0u);
    EXPECT_GT(walked_sub, 0u);
}

TEST(HostileTree, FileSystemsThatLieAboutTheirFoldersLoseNoFile) {
#ifndef KESTRAFIN_TEST_FUSE
    GTEST_SKIP() << "built without libfuse3, so no file system of our own can be served";
#else
    // The tree is walked at its mount and once more through a link to its
    // top folder; the reference lists the served table the same way.
    const struct {
        FileSystemLie lie;
        const char* name;
    } cases[] = {
        {FileSystemLie::none, "honest"},
        {FileSystemLie::same_number_for_every_folder, "inode 42 for every folder"},
        {FileSystemLie::number_zero_for_every_folder, "inode 0 for every folder"},
        {FileSystemLie::child_takes_parents_number, "a child reusing its parent's number"},
        {FileSystemLie::kind_unknown_and_unaskable, "DT_UNKNOWN and a failing stat"},
        {FileSystemLie::dots_typed_as_files, "\".\" and \"..\" typed as files"},
    };
    for (const auto& served : cases) {
        TempFolder tree;
        make_folder(tree / "mnt");
        LongNameFileSystem file_system(tree / "mnt", served.lie);
        if (!file_system.mounted()) GTEST_SKIP() << file_system.why_not();
        const std::string top = LongNameFileSystem::files().front().substr(0, 211);
        make_link(tree / "mnt" + top, tree / "link");

        std::multiset<std::string> expected_entries;
        for (const auto& file : LongNameFileSystem::files(served.lie)) {
            expected_entries.insert(tree / "mnt" + file);
            expected_entries.insert(tree / "link" + file.substr(top.size()));
        }
        std::multiset<std::string> expected_unreadable;
        if (served.lie == FileSystemLie::kind_unknown_and_unaskable) {
            const std::string below_top = LongNameFileSystem::unaskable_folder().substr(top.size());
            expected_unreadable = {tree / "mnt" + top + below_top, tree / "link" + below_top};
        }
        for (const std::size_t threads : {1, 4}) {
            RecordingSink sink;
            searchfiles(tree.path(), sink, {.longer_than = 0, .threads = threads},
                        {.read_ahead_after_folders = 1});
            EXPECT_EQ(std::multiset<std::string>(sink.entries.begin(), sink.entries.end()),
                      expected_entries)
                << served.name << ", " << threads << " threads";
            EXPECT_EQ(std::multiset<std::string>(sink.unreadable.begin(), sink.unreadable.end()),
                      expected_unreadable)
                << served.name << ", " << threads << " threads";
            EXPECT_TRUE(sink.cycles.empty() && sink.link_webs.empty())
                << served.name << ", " << threads << " threads: " << joined(sink.cycles)
                << joined(sink.link_webs);
        }
    }
#endif
}

TEST(HostileTree, AShareOnAnExtFolderIsReadToItsEndAndItsUnknownIdentityReported) {
#ifndef KESTRAFIN_TEST_FUSE
    GTEST_SKIP() << "built without libfuse3, so no file system of our own can be served";
#else
    TempFolder tree;
    struct statfs parent {};
    check(statfs(tree.path().c_str(), &parent) == 0, "statfs");
    if (static_cast<std::uint32_t>(parent.f_type) != 0xEF53)
        GTEST_SKIP() << tree.path() << " is not on ext2/3/4, where a folder's end mark is trusted";
    make_folder(tree / "mnt");
    LongNameFileSystem file_system(tree / "mnt", FileSystemLie::unaskable_root_with_early_end_mark);
    if (!file_system.mounted()) GTEST_SKIP() << file_system.why_not();
    std::multiset<std::string> expected;
    for (const auto& file :
         LongNameFileSystem::files(FileSystemLie::unaskable_root_with_early_end_mark))
        expected.insert(tree / "mnt" + file);
    ASSERT_EQ(expected.size(), 100u);
    for (const std::size_t threads : {1, 4}) {
        RecordingSink sink;
        searchfiles(tree.path(), sink, {.longer_than = 0, .threads = threads},
                    {.read_ahead_after_folders = 1});
        EXPECT_EQ(std::multiset<std::string>(sink.entries.begin(), sink.entries.end()), expected)
            << threads << " threads";
        EXPECT_EQ(sink.unreadable, std::vector<std::string>{tree / "mnt"}) << threads << " threads";
    }
#endif
}

TEST(HostileTree, AFolderReplacedBeforeItIsReopenedIsNotTakenForTheOneRead) {
    // top/a/b/c holds two chains of ten folders. While the walk is at the
    // bottom of the first, c is replaced by another folder of the same name.
    // With few open folders the walk has closed c by then and must reopen it.
    TempFolder tree;
    const std::string c = make_folder_chain(tree.path(), {"top", "a", "b", "c"});
    std::vector<std::string> chain(10, "n");
    const std::string bottom_p = make_folder_chain(c,
                                                   [&] {
                                                       auto names = chain;
                                                       names.front() = "p";
                                                       return names;
                                                   }(),
                                                   {"in-p"});
    const std::string bottom_q = make_folder_chain(c,
                                                   [&] {
                                                       auto names = chain;
                                                       names.front() = "q";
                                                       return names;
                                                   }(),
                                                   {"in-q"});
    struct SwappingSink : RecordingSink {
        std::string c, bottom_p, bottom_q;
        bool swapped = false;
        void folder_done(std::string_view directory) override {
            RecordingSink::folder_done(directory);
            if (swapped || (directory != bottom_p && directory != bottom_q)) return;
            swapped = true;
            check(rename(c.c_str(), (c + "-old").c_str()) == 0, "rename");
            make_folder(c);
        }
    };
    const auto walk_with = [&](std::size_t open_folders) {
        if (access((c + "-old").c_str(), F_OK) == 0) {  // put the first walk's swap back
            check(rmdir(c.c_str()) == 0, "rmdir");
            check(rename((c + "-old").c_str(), c.c_str()) == 0, "rename back");
        }
        SwappingSink sink;
        sink.c = c;
        sink.bottom_p = bottom_p;
        sink.bottom_q = bottom_q;
        searchfiles(tree / "top", sink, {.longer_than = 0, .open_folders = open_folders});
        return sink;
    };
    // Holding c open, the walk finishes the folder it read.
    const SwappingSink holding = walk_with(64);
    EXPECT_EQ(holding.entries.size(), 2u);
    EXPECT_TRUE(holding.unreadable.empty());
    // Reopening c finds another folder: the second chain is left out, with a word.
    const SwappingSink reopening = walk_with(4);
    ASSERT_EQ(reopening.entries.size(), 1u);
    EXPECT_EQ(reopening.unreadable, std::vector<std::string>{c});
}
