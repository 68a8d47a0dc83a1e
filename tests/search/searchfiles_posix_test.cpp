// The walk on what only POSIX hosts have: bytes that are no UTF-8, the
// root "/", descriptors, symbolic links and folder modes.
#include "search/searchfiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/files.h"
#include "platform/linux/files.h"
#include "search/folder_listing.h"
#include "search/path_text.h"
#include "search/walk_seams.h"
#include "tests/search/recording_sink.h"
#include "tests/search/transcript_compare.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::testing;
using kestrafin::search::searchfiles;
using kestrafin::search::utf16_length;

namespace {

std::set<std::string> as_set(const std::vector<std::string>& entries) {
    return {entries.begin(), entries.end()};
}

}  // namespace

TEST(Search, AByteThatIsNoUtf8PassesUnchangedAsOneUnit) {
    TempFolder tree;
    make_folder(tree / std::string(100, 'p'));
    const std::string base = tree / std::string(100, 'p') + "/";
    std::string name;
    while (utf16_length(base + name) + 1 <= 200) name += "\xC3\xA9";
    make_folder(base + name);
    make_file(base + name + "/file");
    const std::string odd = base + name + "\xFF";
    make_folder(odd);
    make_file(odd + "/file");
    EXPECT_EQ(search_entries(tree.path()), std::vector<std::string>{odd + "/file"});
}

TEST(Search, AnEmptyRootWalksTheSystemRootAndListsPathsFromTheSeparator) {
    RecordingSink sink;
    sink.stop_after_folders = 30;
    searchfiles("", sink, {.longer_than = 0});
    ASSERT_FALSE(sink.folders.empty());
    EXPECT_EQ(sink.folders.front(), "");
    EXPECT_EQ(sink.folders.at(1).substr(0, 1), "/");
    ASSERT_FALSE(sink.entries.empty()) << "some folder below / holds files";
    for (const auto& entry : sink.entries) {
        EXPECT_EQ(entry[0], '/');
        // The root's own files never qualify: its directory string is empty.
        EXPECT_NE(entry.find('/', 1), std::string::npos) << entry;
    }
}

TEST(Search, LeavesNoFolderOpenWhenItEnds) {
    const auto open_descriptors = [] { return entries_in("/proc/self/fd"); };
    TempFolder tree;
    for (int i = 0; i < 50; ++i)
        make_folder_chain(tree.path(),
                          {"branch" + std::to_string(i), std::string(200, 'o'), "leaf"}, {"f"});
    const std::size_t before = open_descriptors();
    EXPECT_EQ(search_entries(tree.path()).size(), 50u);
    EXPECT_EQ(open_descriptors(), before);
}

TEST(Search, DoesNotEnterALinkBackToAnAncestorButWalksALinkToASibling) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'q')});
    make_folder_chain(top, {"one", "inner"}, {"f1"});
    make_folder_chain(top, {"two"}, {"f2"});
    make_link("../..", top + "/one/inner/back-to-top");
    make_link("../two", top + "/one/to-two");
    make_link("nowhere", top + "/one/broken");

    RecordingSink sink;
    searchfiles(top, sink);
    EXPECT_EQ(as_set(sink.entries),
              (std::set<std::string>{top + "/one/broken", top + "/one/inner/f1",
                                     top + "/one/to-two/f2", top + "/two/f2"}));
    EXPECT_EQ(sink.entries.size(), 4u) << "each file once per route";
    EXPECT_EQ(sink.cycles, std::vector<std::string>{top + "/one/inner/back-to-top"});
}

TEST(Search, SkipsAnUnreadableFolderWithoutAWordToTheListAndGoesOn) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'u')});
    make_folder_chain(top, {"closed"}, {"hidden-away"});
    make_folder_chain(top, {"open"}, {"seen"});
    chmod(tree.path().c_str(), 0755);
    chmod(top.c_str(), 0755);
    chmod((top + "/closed").c_str(), 0000);

    // Root reads every folder, so the walk runs as an ordinary user when the
    // test runs as root.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        RecordingSink sink;
        searchfiles(top, sink);
        std::string result;
        for (const auto& e : sink.entries) result += "entry " + e + "\n";
        for (const auto& u : sink.unreadable) result += "unreadable " + u + "\n";
        if (write(report[1], result.data(), result.size()) < 0) _exit(4);
        _exit(0);
    }
    close(report[1]);
    std::string result;
    char block[4096];
    ssize_t got = 0;
    while ((got = read(report[0], block, sizeof block)) > 0) result.append(block, got);
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(result, "entry " + top + "/open/seen\nunreadable " + top + "/closed\n");
}

TEST(Search, HandsOnAFoldersFilesAsItReadsThemSoThatNoFolderIsHeldWhole) {
    // The sink removes every file of the folder when it is handed the first:
    // a walk that reads on meets few of them again, while one that held the
    // folder whole would hand on every name.
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'h')});
    constexpr std::size_t kFiles = 5000;
    for (std::size_t i = 0; i < kFiles; ++i) make_file(top + "/file" + std::to_string(i));
    struct RemovingSink : RecordingSink {
        std::string folder;
        void add_entry(std::string_view text) override {
            if (entries.empty())
                for (std::size_t i = 0; i < kFiles; ++i)
                    unlink((folder + "/file" + std::to_string(i)).c_str());
            RecordingSink::add_entry(text);
        }
    } sink;
    sink.folder = top;
    searchfiles(top, sink, {.longer_than = 0});
    ASSERT_FALSE(sink.entries.empty());
    EXPECT_LT(sink.entries.size(), kFiles / 2);
}

namespace {

// Leaves out folders named "closed" below "keep", any "node_modules" and
// files ending in ".tmp".
struct TestExclusion : kestrafin::search::NameExclusion {
    bool excludes(std::string_view folder_below_root, std::string_view name) const override {
        return name == "node_modules" || name.ends_with(".tmp") ||
               (folder_below_root == "keep" && name == "closed");
    }
};

}  // namespace

TEST(Search, AnExcludedFolderIsNeverOpenedWhoeverReadsAhead) {
    TempFolder tree;
    chmod(tree.path().c_str(), 0755);
    make_folder_chain(tree.path(), {"keep"}, {"kept", "gone.tmp"});
    make_folder_chain(tree.path(), {"keep", "closed"});
    make_folder_chain(tree.path(), {"keep", "deeper", "node_modules"});
    make_folder_chain(tree.path(), {"node_modules"});
    for (const char* closed : {"/keep/closed", "/keep/deeper/node_modules", "/node_modules"})
        chmod((tree.path() + closed).c_str(), 0000);
    const TestExclusion exclusion;

    // Each walk runs as an ordinary user, to whom the closed folders are unreadable.
    for (const std::size_t threads : {1, 4}) {
        const pid_t child = fork();
        if (child == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
            RecordingSink sink;
            searchfiles(tree.path(), sink,
                        {.longer_than = 0,
                         .exclusion = {std::shared_ptr<void>(), &exclusion},
                         .threads = threads},
                        {.read_ahead_after_folders = 1});
            const bool as_expected = sink.unreadable.empty() &&
                                     sink.entries == std::vector{tree.path() + "/keep/kept"} &&
                                     sink.folders.size() == 3;
            _exit(as_expected ? 0 : 1);
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << threads << " threads";
    }
}

// Leaves out the folders below "keep" whose names start with "x".
struct XBelowKeep : kestrafin::search::NameExclusion {
    bool excludes(std::string_view folder_below_root, std::string_view name) const override {
        return folder_below_root == "keep" && name.starts_with("x");
    }
};

TEST(Search, LinksAndOtherVolumesAreLeftUnenteredWhenTheOptionsSaySo) {
    using kestrafin::search::NotEntered;
    using kestrafin::search::SearchOptions;
    TempFolder tree;
    TempFolder elsewhere("/dev/shm");
    struct stat here {};
    struct stat there {};
    check(stat(tree.path().c_str(), &here) == 0 && stat(elsewhere.path().c_str(), &there) == 0,
          "stat");
    if (here.st_dev == there.st_dev) GTEST_SKIP() << "/dev/shm is on the volume of " << tree.path();
    make_folder(tree / "a");
    make_file(tree / "a/f");
    make_link(tree / "a", tree / "l");
    make_file(elsewhere / "g");
    make_link(elsewhere.path(), tree / "shm");
    using Declined = std::vector<std::pair<std::string, NotEntered>>;
    const struct {
        const char* what;
        SearchOptions options;
        std::set<std::string> entries;
        Declined not_entered;
    } cases[] = {
        {"by default", {}, {tree / "a/f", tree / "l/f", tree / "shm/g"}, {}},
        {"without following links",
         {.follow_links = false},
         {tree / "a/f"},
         {{tree / "l", NotEntered::link}, {tree / "shm", NotEntered::link}}},
        {"on the root's volume",
         {.one_file_system = true},
         {tree / "a/f", tree / "l/f"},
         {{tree / "shm", NotEntered::other_volume}}},
    };
    for (const auto& walk : cases)
        for (const std::size_t threads : {1, 4}) {
            SearchOptions options = walk.options;
            options.longer_than = 0;
            options.threads = threads;
            RecordingSink sink;
            searchfiles(tree.path(), sink, options, {.read_ahead_after_folders = 1});
            EXPECT_EQ(as_set(sink.entries), walk.entries) << walk.what << ", " << threads;
            Declined declined = sink.not_entered;
            std::sort(declined.begin(), declined.end());
            EXPECT_EQ(declined, walk.not_entered) << walk.what << ", " << threads;
        }
}

TEST(Search, FoldersListedAfterALongFileNameAreStillExcluded) {
    // The walk hands on a file of 250 bytes as it reads the folder, which
    // lengthens its path past what it held; the folders after it in the
    // listing are judged below the same place.
    TempFolder tree;
    for (int folder = 0; folder < 50; ++folder)
        make_folder_chain(tree.path(), {"keep", "x" + std::to_string(folder)}, {"inside"});
    const std::string long_name(250, 'f');
    make_folder_chain(tree.path(), {"keep"}, {long_name});
    const XBelowKeep exclusion;
    for (const std::size_t threads : {1, 4}) {
        RecordingSink sink;
        searchfiles(tree.path(), sink,
                    {.longer_than = 0,
                     .exclusion = {std::shared_ptr<void>(), &exclusion},
                     .threads = threads});
        EXPECT_EQ(sink.entries, std::vector{tree.path() + "/keep/" + long_name}) << threads;
    }
}

TEST(Search, TheTemporaryFileOfTheProgramsOwnOutputIsNeverListed) {
    // Without unnamed files the writer names its temporary file in the
    // list's folder before the walk, and removes that name before the end.
    TempFolder tree;
    make_file(tree / "before.txt");
    kestrafin::platform::linux_host::allow_unnamed_temporary_files(false);
    kestrafin::platform::AtomicFileWriter writer(tree / "list.dxb", "test list");
    kestrafin::platform::linux_host::allow_unnamed_temporary_files(true);
    const auto temporary = writer.temporary_file();
    ASSERT_TRUE(temporary.has_value());
    std::error_code error;
    const kestrafin::platform::Folder folder =
        kestrafin::platform::Folder::open(tree.path(), error);
    ASSERT_TRUE(folder.is_open()) << error.message();
    const kestrafin::search::LeftOutFile left_out{folder.identity(error), temporary->name};

    RecordingSink listed;
    searchfiles(tree.path(), listed, {.longer_than = 0});
    ASSERT_EQ(listed.entries.size(), 2u) << "the temporary file lies in the tree";
    RecordingSink sink;
    searchfiles(tree.path(), sink, {.longer_than = 0, .leave_out = left_out});
    EXPECT_EQ(sink.entries, std::vector<std::string>{tree / "before.txt"});
}
