#include "search/searchfiles.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "search/path_text.h"
#include "tests/search/recording_sink.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::testing;
using kestrafin::search::searchfiles;
using kestrafin::search::utf16_length;

namespace {

// A folder name that brings `base` plus "/" plus the name to `length` characters.
std::string name_for_length(const std::string& base, std::size_t length) {
    return std::string(length - base.size() - 1, 'x');
}

std::set<std::string> as_set(const std::vector<std::string>& entries) {
    return {entries.begin(), entries.end()};
}

}  // namespace

TEST(Search, ListsFilesOfAFolderOfTwoHundredAndOneCharactersButNotOfTwoHundred) {
    TempFolder tree;
    const std::string at_200 = tree / name_for_length(tree.path(), 200);
    const std::string at_201 = tree / name_for_length(tree.path(), 201);
    ASSERT_EQ(at_200.size(), 200u);
    ASSERT_EQ(at_201.size(), 201u);
    // Each folder's only file is the first entry it delivers after the dots.
    make_folder(at_200);
    make_file(at_200 + "/first");
    make_folder(at_200 + "/sub");
    make_file(at_200 + "/sub/deeper");
    make_folder(at_201);
    make_file(at_201 + "/first");

    EXPECT_EQ(as_set(search_entries(tree.path())),
              (std::set<std::string>{at_200 + "/sub/deeper", at_201 + "/first"}));
}

TEST(Search, ATrailingSeparatorOnTheRootCountsInItsLength) {
    TempFolder tree;
    const std::string folder = tree / name_for_length(tree.path(), 200);
    make_folder(folder);
    make_file(folder + "/file");
    EXPECT_TRUE(search_entries(tree.path()).empty()) << "200 characters reached from above";
    EXPECT_EQ(search_entries(folder + "/"), std::vector<std::string>{folder + "/file"});
    EXPECT_TRUE(search_entries(folder).empty());
}

TEST(Search, CountsLengthInUtf16CodeUnitsNotBytes) {
    TempFolder tree;
    // "é" is two bytes but one code unit: 201 bytes, fewer characters.
    make_folder(tree / std::string(100, 'p'));
    const std::string base = tree / std::string(100, 'p') + "/";
    std::string name;
    while (utf16_length(base + name) + 1 <= 200) name += "\xC3\xA9";
    ASSERT_GT((base + name).size(), 201u);
    ASSERT_EQ(utf16_length(base + name), 200u);
    make_folder(base + name);
    make_file(base + name + "/file");
    EXPECT_TRUE(search_entries(tree.path()).empty());

    // A name with a byte that is no valid UTF-8 passes unchanged, counted as one unit.
    const std::string odd = base + name + "\xFF";
    make_folder(odd);
    make_file(odd + "/file");
    EXPECT_EQ(search_entries(tree.path()), std::vector<std::string>{odd + "/file"});
}

TEST(Search, AMissingRootOrARootThatIsAFileGivesNothing) {
    TempFolder tree;
    make_file(tree / "file");
    for (const std::string& root : {tree / "missing", tree / "file"}) {
        RecordingSink sink;
        searchfiles(root, true, sink);
        EXPECT_TRUE(sink.entries.empty());
        EXPECT_EQ(sink.unreadable, std::vector<std::string>{root});
    }
}

TEST(Search, AnEmptyRootWalksTheSystemRootAndListsPathsFromTheSeparator) {
    RecordingSink sink;
    sink.stop_after_folders = 30;
    searchfiles("", true, sink, {.longer_than = 0});
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

TEST(Search, ListsOnlyFilesHiddenOnesIncludedAndTreatsDotNamesAsOrdinary) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {std::string(180, 't')});
    make_folder(top + "/.hidden-folder");
    make_file(top + "/.hidden-folder/inside");
    make_file(top + "/.hidden-file");
    make_file(top + "/..double-dot-file");
    make_file(top + "/visible");
    RecordingSink sink;
    searchfiles(top, true, sink, {.longer_than = 0});
    EXPECT_EQ(as_set(sink.entries),
              (std::set<std::string>{top + "/.hidden-folder/inside", top + "/.hidden-file",
                                     top + "/..double-dot-file", top + "/visible"}));
    for (const auto& entry : sink.entries) {
        EXPECT_EQ(entry.find("/./"), std::string::npos);
        EXPECT_EQ(entry.find("/../"), std::string::npos);
    }
}

TEST(Search, ListsAFoldersOwnFilesFirstAndEachSubtreeWhole) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {std::string(200, 'r')});
    for (const char* a : {"a", "b", "c"}) {
        make_folder_chain(top, {a, "x"}, {"1", "2"});
        make_folder_chain(top, {a, "y", "z"}, {"3"});
        make_folder_chain(top, {a}, {"own1", "own2"});
    }
    make_file(top + "/top-file");
    const auto entries = search_entries(top);
    ASSERT_EQ(entries.size(), 16u);

    // Compare with a listing taken independently through std::filesystem.
    std::set<std::string> expected;
    for (const auto& item : std::filesystem::recursive_directory_iterator(top))
        if (!item.is_directory()) expected.insert(item.path().string());
    EXPECT_EQ(as_set(entries), expected);

    EXPECT_EQ(entries.front(), top + "/top-file");
    const auto folder_of = [](const std::string& path) { return path.substr(0, path.rfind('/')); };
    for (const auto& folder : {top + "/a", top + "/b", top + "/c", top + "/a/y", top + "/b/x"}) {
        std::vector<std::size_t> inside;
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].rfind(folder + "/", 0) == 0) inside.push_back(i);
        ASSERT_FALSE(inside.empty());
        EXPECT_EQ(inside.back() - inside.front() + 1, inside.size())
            << "the subtree of " << folder << " is listed in one piece";
        // Its own files come before those of its subfolders.
        bool seen_deeper = false;
        for (const std::size_t i : inside) {
            const bool own = folder_of(entries[i]) == folder;
            EXPECT_FALSE(own && seen_deeper) << entries[i];
            seen_deeper = seen_deeper || !own;
        }
    }
}

TEST(Search, WalksAndListsFoldersLongerThanTheHostsPathLimits) {
    TempFolder tree;
    std::vector<std::string> names;
    std::string deepest = tree.path();
    while (deepest.size() <= 4200) {
        names.push_back(std::string(200, static_cast<char>('a' + names.size() % 26)));
        deepest += "/" + names.back();
    }
    // Past 260 characters (two levels) and past 4096 (the deepest level).
    const std::string past_260 =
        make_folder_chain(tree.path(), {names.begin(), names.begin() + 2}, {"at-two-levels"});
    ASSERT_GT(past_260.size(), 260u);
    make_folder_chain(tree.path(), names, {"deep-file"});
    const auto entries = search_entries(tree.path());
    EXPECT_EQ(entries,
              (std::vector<std::string>{past_260 + "/at-two-levels", deepest + "/deep-file"}));
    EXPECT_GT(deepest.size(), 4096u);
}

TEST(Search, LeavesNoFolderOpenWhenItEnds) {
    const auto open_descriptors = [] {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator("/proc/self/fd"))
            ++count;
        return count;
    };
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
    searchfiles(top, true, sink);
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
        searchfiles(top, true, sink);
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
