// The diff of two records the test writes: which entries are fixed, new and
// still failing, by exact bytes and kind, the roots and rules it says
// differ, and the exit status a scheduled check sees.
#include "scan/record/record_diff.h"

#include <gtest/gtest.h>

#include <tuple>

#include "scanner/diff_command.h"
#include "tests/scan/record_lines.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::scan::record;
using kestrafin::testing::TempFolder;
using kestrafin::tests::RecordEntry;
using kestrafin::tests::TestRecord;

namespace {

// clang-format off
TestRecord old_record() {
    TestRecord record;
    record.roots = {"/srv/a", "/srv/gone", "/srv/b", "/srv/c", "/srv/d"};
    record.entries = {
        {"", "keep/same.txt"},
        {"", "keep/grown.txt"},
        {"", "keep/shrunk.txt", {"folder_length", "path_length"}, "file", 210, 260},
        {"", "gone/fixed.txt"},
        {"", "Case/file.txt"},
        {"", "bytes/caf\xE9.txt"},
        {"", "locked", {"unreadable"}, "error"},
        {"/srv/gone", "any.txt"},
        {"/srv/b", "b.txt"},
        {"/srv/c", "c.txt"},
        {"/srv/c", "c2.txt"},
        {"/srv/c", "shut/inside.txt"},
        {"/srv/d", "d.txt"},
    };
    return record;
}

TestRecord new_record() {
    TestRecord record;
    record.scan_id = "fedcba9876543210fedcba9876543210";
    record.roots = {"/srv/a", "/srv/added", "/srv/b", "/srv/c", "/srv/d"};
    record.ends = {{"/srv/b", "not_walked"}, {"/srv/c", "incomplete"}, {"/srv/d", ""}};
    record.entries = {
        {"", "Case"},  // a folder of its own, not a file: another key
        {"", "case/file.txt"},
        {"", "keep/same.txt"},
        {"", "keep/grown.txt", {"folder_length", "path_length"}, "file", 240, 260},
        {"", "keep/shrunk.txt"},
        // The same text as caf\xE9 once each bad byte is U+FFFD.
        {"", "bytes/caf\xEA.txt"},
        {"", "bytes/caf\xE9.txt"},
        {"", "locked", {"folder_length"}},
        {"", "new/added.txt"},
        {"/srv/added", "other.txt"},
        {"/srv/c", "c.txt"},
        {"/srv/c", "shut", {"unreadable"}, "error"},
    };
    record.entries[0].kind = "folder";
    return record;
}
// clang-format on

struct Files {
    TempFolder folder;
    std::string write(const std::string& name, const TestRecord& record) {
        const std::string path = folder / name;
        kestrafin::testing::make_file(path, record.text());
        return path;
    }
};

}  // namespace

TEST(RecordDiff, SortsEntriesByExactBytesAndKindIntoFixedNewAndStill) {
    Files files;
    const RecordDiff diff(files.write("old.jsonl", old_record()),
                          files.write("new.jsonl", new_record()));
    using Seen = std::tuple<Change, std::string, std::string, std::string>;
    std::vector<Seen> seen;
    diff.each([&](const EntryChange& change) {
        std::string gained, lost;
        for (auto code : change.reasons_gained) gained += "+" + std::string(code);
        for (auto code : change.reasons_lost) lost += "-" + std::string(code);
        if (change.change == Change::still)
            gained += " " + std::to_string(change.old_path_length) + ">" +
                      std::to_string(change.new_path_length);
        seen.emplace_back(change.change, std::string(change.relative_path), gained, lost);
    });
    const auto host = [](const char* path) { return TestRecord::host_path(path); };
    const std::vector<Seen> expected = {
        {Change::added, "Case", "", ""},
        {Change::added, host("case/file.txt"), "", ""},
        {Change::still, host("keep/same.txt"), " 230>230", ""},
        {Change::still, host("keep/grown.txt"), "+path_length 230>260", ""},
        {Change::still, host("keep/shrunk.txt"), " 260>230", "-path_length"},
        {Change::added, host("bytes/caf\xEA.txt"), "", ""},
        {Change::still, host("bytes/caf\xE9.txt"), " 230>230", ""},
        {Change::added, "locked", "", ""},
        {Change::added, host("new/added.txt"), "", ""},
        {Change::still, "c.txt", " 230>230", ""},
        {Change::added, "shut", "", ""},
        {Change::fixed, host("gone/fixed.txt"), "", ""},
        {Change::fixed, host("Case/file.txt"), "", ""},
        {Change::fixed, "locked", "", ""},
        {Change::fixed, "c2.txt", "", ""},
        // Below a folder the new scan could not read: not known to be fixed.
        {Change::unread, host("shut/inside.txt"), "", ""},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(diff.count(Change::fixed), 4u);
    EXPECT_EQ(diff.count(Change::unread), 1u);
    EXPECT_EQ(diff.count(Change::added), 6u);
    EXPECT_EQ(diff.count(Change::still), 5u);
    EXPECT_EQ(diff.roots_only_old(), std::vector<std::string>{"/srv/gone"});
    EXPECT_EQ(diff.roots_only_new(), std::vector<std::string>{"/srv/added"});
    EXPECT_TRUE(diff.rules_differing().empty());
    // A root walked in neither or reached by one scan alone is no change.
    std::vector<std::tuple<std::string, bool, std::string>> notes;
    for (const RootNote& note : diff.roots_not_whole())
        notes.emplace_back(note.root, note.compared, note.new_end);
    EXPECT_EQ(notes, (std::vector<std::tuple<std::string, bool, std::string>>{
                         {"/srv/b", false, "not_walked"},
                         {"/srv/c", true, "incomplete"},
                         {"/srv/d", false, ""}}));

    const std::vector<RootChanges> summary = diff.summary();
    ASSERT_EQ(summary.size(), 2u) << "/srv/a and /srv/c";
    EXPECT_EQ(std::tie(summary[0].root, summary[0].fixed, summary[0].added, summary[0].left),
              std::make_tuple(std::string("/srv/a"), 3u, 5u, 9u));
    EXPECT_EQ(std::tie(summary[1].root, summary[1].fixed, summary[1].added, summary[1].unread),
              std::make_tuple(std::string("/srv/c"), 1u, 1u, 1u));
    const std::string keep = std::string("/srv/a") + kestrafin::platform::kPathSeparator + "keep";
    const auto folder = std::find_if(summary[0].folders.begin(), summary[0].folders.end(),
                                     [&](const FolderChanges& f) { return f.path == keep; });
    ASSERT_NE(folder, summary[0].folders.end());
    EXPECT_EQ(std::tie(folder->fixed, folder->added, folder->left, folder->units_to_lose),
              std::make_tuple(0u, 0u, 3u, 40u));
}

TEST(RecordDiff, NamesTheRulesThatDifferAndTheExitStatusTellsWhatWasFound) {
    Files files;
    TestRecord other_rules = old_record();
    other_rules.checks = R"(["windows"])";
    other_rules.excludes = R"(["*.tmp"])";
    TestRecord refused = new_record();
    refused.scan_id = "not an id";
    const std::string old_file = files.write("old.jsonl", old_record());
    const std::string new_file = files.write("new.jsonl", new_record());
    const std::string other_file = files.write("other.jsonl", other_rules);
    const std::string refused_file = files.write("refused.jsonl", refused);

    TestRecord twice = old_record();
    twice.entries.insert(twice.entries.begin() + 2, twice.entries[0]);
    try {
        RecordDiff(old_file, files.write("twice.jsonl", twice));
        ADD_FAILURE() << "an entry listed twice is taken";
    } catch (const RecordError& error) {
        EXPECT_EQ(error.line(), 4u) << error.what();
        EXPECT_NE(std::string(error.what()).find("lists again"), std::string::npos);
    }

    EXPECT_EQ(RecordDiff(old_file, other_file).rules_differing(),
              (std::vector<std::string>{"checks", "excludes"}));

    using kestrafin::scanner::run_diff;
    const std::tuple<std::vector<std::string>, int> cases[] = {
        {{"--summary", old_file, new_file}, 1},
        {{"--summary", old_file, old_file}, 0},
        {{"--summary", new_file, old_file}, 1},
        {{"--summary", old_file, other_file}, 2},
        {{"--summary", "--rules-may-differ", old_file, other_file}, 0},
        {{"--summary", old_file, refused_file}, 2},
        {{"--summary", old_file, files.folder / "missing.jsonl"}, 2},
        {{"--format", "xml", old_file, new_file}, 2},
        {{old_file}, 2},
    };
    for (const auto& [arguments, status] : cases)
        EXPECT_EQ(run_diff(arguments), status) << ::testing::PrintToString(arguments);
}
