#include "search/searchfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "platform/path_rules.h"
#include "search/path_text.h"
#include "search/walk_seams.h"
#include "tests/search/recording_sink.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::testing;
using kestrafin::search::searchfiles;
using kestrafin::search::utf16_length;

namespace {

// Joins names with the host's separator: path("a", "b") is "a/b" on POSIX.
template <typename... Names>
std::string path(std::string first, const Names&... rest) {
    ((first += kestrafin::platform::kPathSeparator, first += rest), ...);
    return first;
}

// A folder name that brings `base` plus a separator plus the name to `length` characters.
std::string name_for_length(const std::string& base, std::size_t length) {
    return std::string(length - base.size() - 1, 'x');
}

std::set<std::string> as_set(const std::vector<std::string>& entries) {
    return {entries.begin(), entries.end()};
}

using kestrafin::search::Answer;
using kestrafin::search::WalkEvent;
using kestrafin::search::WalkEventKind;

// Every event as "kind path", answered by `answer`.
struct AnsweringVisitor : kestrafin::search::WalkVisitor {
    std::function<Answer(const WalkEvent&)> answer;
    std::vector<std::string> events;
    Answer visit(const WalkEvent& event) override {
        static const char* const kinds[] = {"file ", "entered ", "done ", "not read ",
                                            "not entered "};
        events.push_back(kinds[static_cast<int>(event.kind)] + std::string(event.path));
        return answer ? answer(event) : Answer::go_on;
    }
};

}  // namespace

TEST(Search, ListsFilesOfAFolderOfTwoHundredAndOneCharactersButNotOfTwoHundred) {
    TempFolder tree;
    const std::string at_200 = tree / name_for_length(tree.path(), 200);
    const std::string at_201 = tree / name_for_length(tree.path(), 201);
    ASSERT_EQ(at_200.size(), 200u);
    ASSERT_EQ(at_201.size(), 201u);
    // Each folder's only file is the first entry it delivers after the dots.
    make_folder(at_200);
    make_file(path(at_200, "first"));
    make_folder(path(at_200, "sub"));
    make_file(path(at_200, "sub", "deeper"));
    make_folder(at_201);
    make_file(path(at_201, "first"));

    EXPECT_EQ(as_set(search_entries(tree.path())),
              (std::set<std::string>{path(at_200, "sub", "deeper"), path(at_201, "first")}));
}

TEST(Search, ATrailingSeparatorOnTheRootCountsInItsLength) {
    TempFolder tree;
    const std::string folder = tree / name_for_length(tree.path(), 200);
    make_folder(folder);
    make_file(path(folder, "file"));
    EXPECT_TRUE(search_entries(tree.path()).empty()) << "200 characters reached from above";
    EXPECT_EQ(search_entries(path(folder, "")), std::vector<std::string>{path(folder, "file")});
    EXPECT_TRUE(search_entries(folder).empty());
}

TEST(Search, CountsLengthInUtf16CodeUnitsNotBytes) {
    TempFolder tree;
    // "é" is two bytes but one code unit: 201 bytes, fewer characters.
    make_folder(tree / std::string(100, 'p'));
    const std::string base = path(tree.path(), std::string(100, 'p'), "");
    std::string name;
    while (utf16_length(base + name) + 1 <= 200) name += "\xC3\xA9";
    ASSERT_GT((base + name).size(), 201u);
    ASSERT_EQ(utf16_length(base + name), 200u);
    make_folder(base + name);
    make_file(path(base + name, "file"));
    EXPECT_TRUE(search_entries(tree.path()).empty());
}

TEST(Search, AMissingRootOrARootThatIsAFileGivesNothing) {
    TempFolder tree;
    make_file(tree / "file");
    for (const std::string& root : {tree / "missing", tree / "file"}) {
        RecordingSink sink;
        searchfiles(root, sink);
        EXPECT_TRUE(sink.entries.empty());
        EXPECT_EQ(sink.unreadable, std::vector<std::string>{root});
    }
}

TEST(Search, ListsOnlyFilesHiddenOnesIncludedAndTreatsDotNamesAsOrdinary) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {std::string(180, 't')});
    make_folder(path(top, ".hidden-folder"));
    make_file(path(top, ".hidden-folder", "inside"));
    make_file(path(top, ".hidden-file"));
    make_file(path(top, "..double-dot-file"));
    make_file(path(top, "visible"));
    RecordingSink sink;
    searchfiles(top, sink, {.longer_than = 0});
    EXPECT_EQ(
        as_set(sink.entries),
        (std::set<std::string>{path(top, ".hidden-folder", "inside"), path(top, ".hidden-file"),
                               path(top, "..double-dot-file"), path(top, "visible")}));
    for (const auto& entry : sink.entries) {
        EXPECT_EQ(entry.find(path("", ".", "")), std::string::npos);
        EXPECT_EQ(entry.find(path("", "..", "")), std::string::npos);
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
    make_file(path(top, "top-file"));
    const auto entries = search_entries(top);
    ASSERT_EQ(entries.size(), 16u);

    // Compare with a listing taken independently through std::filesystem.
    std::set<std::string> expected;
    for (const auto& item : std::filesystem::recursive_directory_iterator(top))
        if (!item.is_directory()) expected.insert(item.path().string());
    EXPECT_EQ(as_set(entries), expected);

    EXPECT_EQ(entries.front(), path(top, "top-file"));
    const auto folder_of = [](const std::string& entry) {
        return entry.substr(0, entry.rfind(kestrafin::platform::kPathSeparator));
    };
    for (const auto& folder : {path(top, "a"), path(top, "b"), path(top, "c"), path(top, "a", "y"),
                               path(top, "b", "x")}) {
        std::vector<std::size_t> inside;
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i].rfind(path(folder, ""), 0) == 0) inside.push_back(i);
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
    // Past Windows' 260 characters at two levels; at the deepest level past
    // POSIX's 4096, or on Windows past 2000 but within the 4096 bytes of the
    // Unix path Wine makes of it.
    const std::size_t deepest_past = kPosixHost ? 4096 : 2000;
    TempFolder tree;
    std::vector<std::string> names;
    std::string deepest = tree.path();
    while (deepest.size() <= deepest_past + 100) {
        names.push_back(std::string(200, static_cast<char>('a' + names.size() % 26)));
        deepest = path(deepest, names.back());
    }
    const std::string past_260 =
        make_folder_chain(tree.path(), {names.begin(), names.begin() + 2}, {"at-two-levels"});
    ASSERT_GT(past_260.size(), 260u);
    make_folder_chain(tree.path(), names, {"deep-file"});
    const auto entries = search_entries(tree.path());
    EXPECT_EQ(entries, (std::vector<std::string>{path(past_260, "at-two-levels"),
                                                 path(deepest, "deep-file")}));
    EXPECT_GT(deepest.size(), deepest_past);
}

TEST(Search, APrunedFolderIsWalkedWithoutItsSubfoldersAndAStopEndsTheWalkAtOnce) {
    TempFolder tree;
    const std::string top = make_folder_chain(tree.path(), {"top"}, {"top-file"});
    make_folder_chain(top, {"a", "deep", "deeper"}, {"d"});
    make_folder_chain(top, {"a"}, {"a1", "a2"});
    make_folder_chain(top, {"b", "under-b"}, {"b1"});
    const auto walk = [&](std::size_t threads, std::function<Answer(const WalkEvent&)> answer) {
        AnsweringVisitor visitor;
        visitor.answer = std::move(answer);
        searchfiles(top, visitor, {.longer_than = 0, .threads = threads},
                    {.read_ahead_after_folders = 1});
        return visitor.events;
    };
    const auto whole = walk(1, nullptr);
    ASSERT_EQ(std::count(whole.begin(), whole.end(), "done " + path(top, "a", "deep", "deeper")),
              1);
    // The events of the whole walk but those of `pruned`'s subfolders and below.
    const auto without_below = [&](const std::string& pruned) {
        std::vector<std::string> kept;
        for (const std::string& event : whole) {
            const std::string event_path = event.substr(event.find(' ') + 1);
            const bool own_file = event.rfind("file ", 0) == 0 &&
                                  event_path.find(kestrafin::platform::kPathSeparator,
                                                  pruned.size() + 1) == std::string::npos;
            if (event_path.rfind(path(pruned, ""), 0) != 0 || own_file) kept.push_back(event);
        }
        return kept;
    };
    const auto answering = [](WalkEventKind kind, std::string at, Answer answer) {
        return [=](const WalkEvent& event) {
            return event.kind == kind && event.path == at ? answer : Answer::go_on;
        };
    };
    const std::string a = path(top, "a");
    for (const std::size_t threads : {1, 4}) {
        const std::string where = std::to_string(threads) + " threads";
        EXPECT_EQ(walk(threads, nullptr), whole) << where;
        EXPECT_EQ(walk(threads, answering(WalkEventKind::folder_entered, a, Answer::prune)),
                  without_below(a))
            << where;
        EXPECT_EQ(walk(threads, answering(WalkEventKind::folder_entered, top, Answer::prune)),
                  without_below(top))
            << where;
        // Prune means nothing but to a folder entered.
        EXPECT_EQ(walk(threads, answering(WalkEventKind::file, path(a, "a1"), Answer::prune)),
                  whole)
            << where;
        EXPECT_EQ(walk(threads, answering(WalkEventKind::folder_done, a, Answer::prune)), whole)
            << where;
        // A stop at any event is the last event.
        for (std::size_t at = 0; at < whole.size(); ++at) {
            std::size_t seen = 0;
            const auto stopped =
                walk(threads, [&](const WalkEvent&) { return seen++ == at ? Answer::stop : Answer::go_on; });
            EXPECT_EQ(stopped, std::vector<std::string>(whole.begin(),
                                                        whole.begin() + static_cast<long>(at) + 1))
                << where << ", stopped at event " << at;
        }
    }
}
