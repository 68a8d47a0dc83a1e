// Which names a destination that ignores case, and perhaps Unicode form,
// takes for one. Built for both hosts: one table, so that the Linux and the
// Windows scanner find the same collisions.
#include "platform/name_folding.h"

#include <gtest/gtest.h>

#include <string>

using kestrafin::platform::name_comparison_key;
using kestrafin::platform::NameComparison;

namespace {

struct NamePair {
    std::string first;
    std::string second;
    bool one_name_by_case;            // NTFS
    bool one_name_composed_and_case;  // SharePoint and OneDrive
};

void PrintTo(const NamePair& pair, std::ostream* out) {
    *out << ::testing::PrintToString(pair.first) << " and "
         << ::testing::PrintToString(pair.second);
}

const NamePair kPairs[] = {
    {"Report.docx", "report.DOCX", true, true},
    {"Report.docx", "Report.docx ", false, false},
    {"Caf\xC3\xA9", "Cafe\xCC\x81", false, true},  // é composed and decomposed
    {"CAF\xC3\x89", "cafe\xCC\x81", false, true},  // and in another case
    {"Caf\xC3\xA9", "CAF\xC3\x89", true, true},
    {"\xE2\x84\xAB", "a\xCC\x8A", false, true},  // Angstrom sign, a with ring above
    {"\xCE\x86\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1", "\xCE\xAC\xCE\x98\xCE\x89\xCE\x9D\xCE\x91", true,
     true},
    // Unicode's simple upper case, where the system's own case rules differ.
    {"\xC4\xB1", "I", true, true},                 // dotless i
    {"\xC7\x85", "\xC7\x84", true, true},          // Dž titlecase, DŽ
    {"\xC7\x86", "\xC7\x85", true, true},          // dž, Dž
    {"\xCF\x82", "\xCE\xA3", true, true},          // final sigma, Sigma
    {"\xCF\x83", "\xCF\x82", true, true},          // sigma, final sigma
    {"\xCD\x85", "\xCE\x99", true, true},          // ypogegrammeni, Iota
    {"\xC2\xB5", "\xCE\x9C", true, true},          // micro sign, Mu
    {"\xC5\xBF", "S", true, true},                 // long s
    {"\xE1\xBA\x9B", "\xE1\xB9\xA0", true, true},  // long s with dot, S with dot
    // ß has no simple upper case; utf8proc alone gives it ẞ.
    {"stra\xC3\x9F"
     "e",
     "STRA\xE1\xBA\x9E"
     "E",
     false, false},
    {"stra\xC3\x9F"
     "e",
     "STRASSE", false, false},
    {"\xEF\xAC\x81le", "FILE", false, false},  // nor the ligature fi
    // NTFS upcases UTF-16 units: Deseret letters keep their case there.
    {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false, true},
    {"e\xCC\x81", "e", false, false},
    {"bad\xFF", "BAD\xFF", true, true},  // stray bytes count as they are
    {"bad\xFF", "bad\xFE", false, false},
    {"\xC3\xA9\xED\xA0\x80", "\xC3\x89\xED\xA0\x80", true, false},  // an unpaired surrogate
};

class NameFolding : public ::testing::TestWithParam<NamePair> {};

}  // namespace

TEST_P(NameFolding, NamesAreOneExactlyWhenTheDestinationTakesThemForOne) {
    const NamePair& pair = GetParam();
    EXPECT_EQ(name_comparison_key(pair.first, NameComparison::case_only) ==
                  name_comparison_key(pair.second, NameComparison::case_only),
              pair.one_name_by_case);
    EXPECT_EQ(name_comparison_key(pair.first, NameComparison::composed_case) ==
                  name_comparison_key(pair.second, NameComparison::composed_case),
              pair.one_name_composed_and_case);
}

INSTANTIATE_TEST_SUITE_P(Pairs, NameFolding, ::testing::ValuesIn(kPairs));
