// The summary's bookkeeping where a walk cannot easily reach it.
#include "scanner/summary.h"

#include <gtest/gtest.h>

using namespace kestrafin::scanner;

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
