// The summary's bookkeeping where a walk cannot easily reach it.
#include "scan/sinks/summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "platform/path_rules.h"
#include "scan/rules/rule_list.h"

using namespace kestrafin::scan;

TEST(ScanSummary, KeepsTheTenLongestFirstSeenFirstAndBandsEveryLength) {
    ScanSummary summary({.folder_longer_than = 200, .file_longer_than = std::nullopt});
    for (std::size_t i = 0; i < 30; ++i) summary.file_seen("p" + std::to_string(i), 100 + i % 3);
    summary.file_seen("deep", 250'000);
    summary.file_seen("edge", 1000);
    summary.file_seen("past", 1001);
    summary.file_seen("one", 1);

    ASSERT_EQ(summary.longest().size(), 10u);
    EXPECT_EQ(summary.longest()[0], (std::pair<std::size_t, std::string>{250'000, "deep"}));
    EXPECT_EQ(summary.longest()[1].second, "past");
    EXPECT_EQ(summary.longest()[2].second, "edge");
    // Of the paths of 102 units, those seen first: p2, p5, ...
    for (std::size_t i = 3; i < 10; ++i)
        EXPECT_EQ(summary.longest()[i], (std::pair<std::size_t, std::string>{
                                            102, "p" + std::to_string(2 + 3 * (i - 3))}));

    ASSERT_EQ(summary.bands().size(), 51u) << "one band for everything past 1000";
    EXPECT_EQ(summary.bands()[0], 1u);
    EXPECT_EQ(summary.bands()[4], 10u);  // 81-100
    EXPECT_EQ(summary.bands()[5], 20u);  // 101-120
    EXPECT_EQ(summary.bands()[49], 1u);  // 981-1000
    EXPECT_EQ(summary.bands()[50], 2u);
    EXPECT_EQ(summary.files_seen(), 34u);

    const std::string text = summary.render(3, 1, false, 80);
    EXPECT_NE(text.find("\n      1001-          2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("folders unreadable: 1\n"), std::string::npos);
    EXPECT_EQ(text.find('#'), std::string::npos) << "bars only on a terminal";
}

TEST(ScanSummary, OnATerminalNamesCanNeitherSteerItNorHideTheirEnd) {
    ScanSummary summary({.folder_longer_than = 200, .file_longer_than = std::nullopt});
    for (const std::string path : {"/t/esc\033]0;title\007",
                                   "/t/c1\xC2\x9B"
                                   "2J",
                                   "/t/raw\x9B"
                                   "2J",
                                   "/t/invoice\xE2\x80\xAEtxt.exe", "/t/bad\xFF\xC3"})
        summary.file_seen(path, 30);
    summary.file_seen("/t/données", 10);

    const std::string text = summary.render(1, 0, true, 80);
    const std::string hostile = text.substr(0, text.find("données"));
    for (const char c : hostile)
        EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F))
            << "byte " << static_cast<int>(static_cast<unsigned char>(c)) << " in\n"
            << text;
    EXPECT_NE(text.find("/t/données"), std::string::npos) << "valid names stay readable";
}

TEST(ScanSummary, NamesTheFoldersWithMostEntriesPastALengthRuleAndWhatEachMustLose) {
    const auto walked = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', kestrafin::platform::kPathSeparator);
        return path;
    };
    ScanSummary summary({.folder_longer_than = 100, .file_longer_than = 120}, walked("/r/"));
    Reasons folder_rule, path_rule, name_rule;
    folder_rule.add(reason_of(kFolderLengthRule));
    path_rule.add(reason_of(kPathLengthRule));
    name_rule.add(reason_of(kReservedNameRule));
    // Depth first, as the walk lists them.
    summary.entry_listed(path_rule, {.folder = 90, .path = 125}, walked("/r/a"));
    summary.entry_listed(folder_rule, {.folder = 103, .path = 110}, walked("/r/a/b"));
    summary.entry_listed(name_rule, {.folder = 10, .path = 20}, walked("/r/a/b"));
    summary.entry_listed(path_rule, {.folder = 110, .path = 130}, walked("/r/a/c/d"));
    summary.entry_listed(folder_rule, {.folder = 101, .path = 105}, walked("/r/e"));
    // Listed by a profile's shorter limit, within the rule given: nothing to lose.
    summary.entry_listed(path_rule, {.folder = 50, .path = 118}, walked("/r/e"));
    summary.entry_listed(folder_rule, {.folder = 101, .path = 105}, walked("/r"));

    std::vector<std::tuple<std::string, std::size_t, std::size_t>> acted;
    for (const FolderToActOn& folder : summary.folders_to_act_on())
        acted.emplace_back(folder.path, folder.entries, folder.units_to_lose);
    EXPECT_EQ(acted, (std::vector<std::tuple<std::string, std::size_t, std::size_t>>{
                         {walked("/r/a"), 3, 10},
                         {walked("/r/e"), 1, 1},
                         {walked("/r/a/b"), 1, 3},
                         {walked("/r/a/c"), 1, 10},
                         {walked("/r/a/c/d"), 1, 10}}))
        << "the root is where the tree goes, not a folder to rename";
    const std::string text = summary.render(6, 0, false, 80);
    EXPECT_NE(text.find("entries per reason:\n  path_length: 3\n  folder_length: 3\n  "
                        "reserved_name: 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("folder):\n  3 10 " + walked("/r/a") + "\n"), std::string::npos) << text;
}

TEST(ScanSummary, ADeepTreeKeepsOnePathNotOnePerLevel) {
    // Kept whole for each level, 2,000 levels held a thousand times the
    // deepest path's bytes; 100,000 held gigabytes.
    const std::string separator(1, kestrafin::platform::kPathSeparator);
    ScanSummary summary({.folder_longer_than = 0, .file_longer_than = std::nullopt},
                        "r" + separator);
    Reasons folder_rule;
    folder_rule.add(reason_of(kFolderLengthRule));
    std::string folder = "r";
    for (int level = 0; level < 2000; ++level) {
        folder += separator + "folder";
        summary.entry_listed(folder_rule, {.folder = folder.size(), .path = folder.size() + 2},
                             folder);
    }
    EXPECT_LT(summary.held_bytes(), 20 * folder.size());
    const std::vector<FolderToActOn> acted = summary.folders_to_act_on();
    ASSERT_EQ(acted.size(), kFoldersToActOn);
    EXPECT_EQ(acted[0].path, "r" + separator + "folder");
    EXPECT_EQ(acted[0].entries, 2000u);
    EXPECT_EQ(acted[0].units_to_lose, folder.size());
    EXPECT_EQ(acted[1].entries, 1999u);
}
