// Which names and paths --exclude leaves out.
#include "scan/rules/exclusions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/path_rules.h"

using namespace kestrafin::scan;

namespace {

// A path written with "/", as this host separates it.
std::string on_host(std::string path) {
    std::replace(path.begin(), path.end(), '/', kestrafin::platform::kPathSeparator);
    return path;
}

struct ExclusionCase {
    std::string pattern;
    std::string folder_below_root;
    std::string name;
    bool excluded;
};

void PrintTo(const ExclusionCase& one, std::ostream* out) {
    *out << one.pattern << " on " << one.folder_below_root << "|" << one.name;
}

const ExclusionCase kCases[] = {
    {"node_modules", "", "node_modules", true},
    {"node_modules", "a/b", "node_modules", true},
    {"node_modules", "", "node_modules2", false},
    {"*.tmp", "x", "report.tmp", true},
    {"*.tmp", "x", "report.tmp.docx", false},
    {"?.txt", "", "\xC3\xA9.txt", true},  // one character of two bytes
    {"?.txt", "", "ab.txt", false},
    {"[Bb]uild", "", "build", true},
    {"[!B]uild", "", "Build", false},
    {"[a-c]*", "", "c-drive", true},
    {"[a-c]*", "", "d-drive", false},
    {"[éè]cole", "", "école", true},  // a set takes one character, as "?" does
    {"[!a]cole", "", "école", true},
    {"[à-ÿ]t?", "", "été", true},
    {"[a-z]", "", "é", false},
    {"a*b*c", "", "aXbYbZc", true},
    {"a*b*c", "", "aXbYbZ", false},
    {"build/out", "build", "out", true},
    {"build/out", "", "out", false},
    {"build/out", "x/build", "out", false},
    {"/build", "", "build", true},
    {"/build", "x", "build", false},
    {"*/cache/", "home", "cache", true},
    {"*/*", "", "top", false},  // "*" never takes a separator
    // "*" takes whole characters, so no part of one is matched alone; stray
    // bytes are characters of their own.
    {"*[\xA9]", "", "caf\xC3\xA9", false},
    {"*\xA9", "", "caf\xC3\xA9", false},
    {"caf\xC3*", "", "caf\xC3\xA9", false},
    {"*[\xA9]", "", "caf\xC3\xA9\xA9", true},
    {"*\xFF?", "", "a\xFF\xC3\xA9", true},
    {"*[\xC3]", "", "a\xC3", true},
};

class ExcludePattern : public ::testing::TestWithParam<ExclusionCase> {};

}  // namespace

TEST_P(ExcludePattern, MatchesANameOrThePathBelowTheRoot) {
    const ExclusionCase& one = GetParam();
    const Exclusions exclusions({one.pattern});
    EXPECT_EQ(exclusions.excludes(on_host(one.folder_below_root), one.name), one.excluded);
}

INSTANTIATE_TEST_SUITE_P(Patterns, ExcludePattern, ::testing::ValuesIn(kCases));

TEST(ExcludePattern, APatternThatNamesNothingIsRefused) {
    EXPECT_THROW(Exclusions({"/"}), std::invalid_argument);
    EXPECT_THROW(Exclusions({""}), std::invalid_argument);
}
