// How a scan reads a target prefix and measures the texts of a walk.
#include "scan/rules/length_rules.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/path_rules.h"

using namespace kestrafin::scan;

namespace {

// A walk's text, written here with "/", as the walk gives it on this host.
std::string walked(std::string path) {
    std::replace(path.begin(), path.end(), '/', kestrafin::platform::kPathSeparator);
    return path;
}

struct PrefixCase {
    std::string prefix;
    char separator;
    std::string measured;
};

void PrintTo(const PrefixCase& one, std::ostream* out) {
    *out << one.prefix;
}

class TargetPrefixReading : public ::testing::TestWithParam<PrefixCase> {};

}  // namespace

TEST_P(TargetPrefixReading, PicksTheSeparatorAndThePartThatCounts) {
    const TargetPrefix prefix(GetParam().prefix);
    EXPECT_EQ(prefix.separator(), GetParam().separator);
    EXPECT_EQ(prefix.measured(), GetParam().measured);
    EXPECT_EQ(prefix.text(), GetParam().prefix);
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, TargetPrefixReading,
    ::testing::Values(PrefixCase{"\\\\srv\\share", '\\', "\\\\srv\\share"},
                      PrefixCase{"D:", '\\', "D:"},
                      PrefixCase{"d:/mixed/slashes", '\\', "d:/mixed/slashes"},
                      PrefixCase{"C://data", '\\', "C://data"},
                      PrefixCase{"archive\\2019", '\\', "archive\\2019"},
                      PrefixCase{"/mnt/new", '/', "/mnt/new"},
                      PrefixCase{"relative/dir", '/', "relative/dir"},
                      PrefixCase{"https://contoso.sharepoint.com/sites/A%20B/%C3%A9?web=1#top", '/',
                                 "/sites/A B/\xC3\xA9"},
                      PrefixCase{"https://contoso.sharepoint.com", '/', ""},
                      PrefixCase{"https://host/", '/', "/"},
                      PrefixCase{"smb+x://srv/share%zz%4", '/', "/share%zz%4"},
                      PrefixCase{"1http://host/a", '/', "1http://host/a"}));

TEST(PercentDecoding, DecodesEscapesAndKeepsEverythingElse) {
    EXPECT_EQ(percent_decoded("%41%e9%C3%A9"), "A\xE9\xC3\xA9");
    EXPECT_EQ(percent_decoded("100%"), "100%");
    EXPECT_EQ(percent_decoded("%%41"), "%A");
    EXPECT_EQ(percent_decoded("%4g%g4%2"), "%4g%g4%2");
    EXPECT_EQ(percent_decoded("%00x"), std::string("\0x", 2));
}

TEST(LengthMeasure, FolderOfAFileInTheRootIsTheRootAsGiven) {
    const LengthMeasure plain(walked("/data"), std::nullopt);
    EXPECT_EQ(plain.measure(walked("/data/f.txt")).folder, 5u);
    EXPECT_EQ(plain.measure(walked("/data/f.txt")).path, 11u);
    const LengthMeasure slashed(walked("/data/"), std::nullopt);
    EXPECT_EQ(slashed.measure(walked("/data/f.txt")).folder, 6u) << "the trailing separator counts";
    EXPECT_EQ(slashed.measure(walked("/data/sub/f.txt")).folder, 9u);
    EXPECT_EQ(slashed.measure(walked("/data/sub/f.txt")).path, 15u);
}

TEST(LengthMeasure, CountsUtf16UnitsAtTheTarget) {
    // é is one unit, the emoji two, the stray byte 0xFF one.
    const std::string rest = "\xC3\xA9t\xC3\xA9/\xF0\x9F\x98\x80\xFF";
    const LengthMeasure unc(walked("/src/tree"), TargetPrefix("\\\\srv\\d\xC3\xA9pt"));
    // The prefix \\srv\dépt has 10 units.
    EXPECT_EQ(unc.measure(walked("/src/tree/" + rest + "/f")).folder, 10u + 1 + 3 + 1 + 3);
    EXPECT_EQ(unc.measure(walked("/src/tree/" + rest + "/f")).path, 10u + 1 + 3 + 1 + 3 + 1 + 1);
    EXPECT_EQ(unc.measure(walked("/src/tree/f")).folder, 10u);
    EXPECT_EQ(
        unc.target_path(walked("/src/tree/" + rest + "/f")),
        "\\\\srv\\d\xC3\xA9pt\\" + std::string("\xC3\xA9t\xC3\xA9\\") + "\xF0\x9F\x98\x80\xFF\\f");

    const LengthMeasure drive(walked("/src/tree/"), TargetPrefix("E:\\"));
    EXPECT_EQ(drive.measure(walked("/src/tree/f")).folder, 3u);
    EXPECT_EQ(drive.measure(walked("/src/tree/a/f")).folder, 4u) << "no second separator";
    EXPECT_EQ(drive.target_path(walked("/src/tree/a/f")), "E:\\a\\f");

    const LengthMeasure url(walked("/src"), TargetPrefix("https://h/sites/x%20y"));
    // The part that counts is "/sites/x y", 10 units.
    EXPECT_EQ(url.measure(walked("/src/a%20/f")).path, 10u + 1 + 4 + 1 + 1)
        << "escapes in names are not decoded";
    EXPECT_EQ(url.target_path(walked("/src/a%20/f")), "https://h/sites/x%20y/a%20/f");
    // An address copied from a browser: the paths go on from its folder, not
    // after its query or fragment.
    const LengthMeasure browsed(walked("/src"), TargetPrefix("https://h/sites/x/?web=1#top"));
    EXPECT_EQ(browsed.measure(walked("/src/a/f")).path, 9u + 3);
    EXPECT_EQ(browsed.target_path(walked("/src/a/f")), "https://h/sites/x/a/f");
}

TEST(LengthRules, AnEntryQualifiesByEitherRuleAndOnlyPastTheLimit) {
    const LengthRules both{.folder_longer_than = 247, .file_longer_than = 259};
    EXPECT_FALSE(judge(both, {.folder = 247, .path = 259}).qualifies());
    EXPECT_TRUE(judge(both, {.folder = 248, .path = 250}).by_folder);
    EXPECT_FALSE(judge(both, {.folder = 248, .path = 250}).by_file);
    EXPECT_TRUE(judge(both, {.folder = 10, .path = 260}).by_file);
    const LengthRules files_only{.folder_longer_than = std::nullopt, .file_longer_than = 400};
    EXPECT_FALSE(judge(files_only, {.folder = 1000, .path = 400}).qualifies());
}
