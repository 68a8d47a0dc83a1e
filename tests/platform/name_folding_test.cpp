// Which names a destination that ignores case and Unicode form takes for one.
#include "platform/name_folding.h"

#include <gtest/gtest.h>

#include <string>

using kestrafin::platform::name_comparison_key;

namespace {

struct NamePair {
    std::string first;
    std::string second;
    bool one_name;
};

void PrintTo(const NamePair& pair, std::ostream* out) {
    *out << ::testing::PrintToString(pair.first) << " and "
         << ::testing::PrintToString(pair.second);
}

const NamePair kPairs[] = {
    {"Report.docx", "report.DOCX", true},
    {"Report.docx", "Report.docx ", false},
    {"Caf\xC3\xA9", "Cafe\xCC\x81", true},  // é composed and decomposed
    {"CAF\xC3\x89", "cafe\xCC\x81", true},  // and in another case
    {"\xE2\x84\xAB", "a\xCC\x8A", true},    // Angstrom sign, a with ring above
    {"\xCE\x86\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1", "\xCE\xAC\xCE\x98\xCE\x89\xCE\x9D\xCE\x91", true},
    {"stra\xC3\x9F"
     "e",
     "STRASSE", false},                 // ß has no simple upper case
    {"\xEF\xAC\x81le", "FILE", false},  // nor the ligature fi
    {"e\xCC\x81", "e", false},
    {"bad\xFF", "BAD\xFF", true},  // stray bytes count as they are
    {"bad\xFF", "bad\xFE", false},
};

class NameFolding : public ::testing::TestWithParam<NamePair> {};

}  // namespace

TEST_P(NameFolding, NamesAreOneExactlyWhenTheDestinationTakesThemForOne) {
    const NamePair& pair = GetParam();
    EXPECT_EQ(name_comparison_key(pair.first) == name_comparison_key(pair.second), pair.one_name);
}

INSTANTIATE_TEST_SUITE_P(Pairs, NameFolding, ::testing::ValuesIn(kPairs));
