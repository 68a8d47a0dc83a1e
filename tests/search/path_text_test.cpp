#include "search/path_text.h"

#include <gtest/gtest.h>

#include "platform/path_rules.h"
#include "platform/text.h"

using kestrafin::platform::kPathSeparator;
using kestrafin::search::addslash;
using kestrafin::search::utf16_length;
using kestrafin::search::utf8_sequence_length;

TEST(Addslash, EnsuresOneTrailingSeparator) {
    const std::string separator(1, kPathSeparator);
    EXPECT_EQ(addslash(""), separator);
    EXPECT_EQ(addslash(separator), separator);
    EXPECT_EQ(addslash("tmp"), "tmp" + separator);
    EXPECT_EQ(addslash("tmp" + separator), "tmp" + separator);
    // The other host's separator is an ordinary character here.
    const std::string other(1, kPathSeparator == '/' ? '\\' : '/');
    EXPECT_EQ(addslash("c:" + other), "c:" + other + separator);
}

struct Utf16Case {
    const char* text;
    std::size_t units;
    friend void PrintTo(const Utf16Case& c, std::ostream* out) { *out << c.units; }
};

class Utf16Length : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16Length, CountsCodeUnits) {
    EXPECT_EQ(utf16_length(GetParam().text), GetParam().units) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf16Length,
    ::testing::Values(Utf16Case{"", 0}, Utf16Case{"plain ascii", 11},
                      Utf16Case{"\xC3\xA9t\xC3\xA9", 3},         // été
                      Utf16Case{"\xE6\x97\xA5\xE6\x9C\xAC", 2},  // 日本
                      Utf16Case{"\xF0\x9F\x90\xA6", 2},          // a bird above the basic plane
                      Utf16Case{"a\xFF"
                                "b",
                                3},          // invalid byte counts one
                      Utf16Case{"\xC3", 1},  // cut-off sequence
                      Utf16Case{"\xE6\x97"
                                "x",
                                3},                  // truncated three-byte lead
                      Utf16Case{"\xED\xA0\x80", 1},  // an unpaired surrogate, as Windows names hold
                      Utf16Case{"\xED\xA0\x80\xED\xB0\x80", 2},  // two, though they would pair
                      Utf16Case{"\xED\xA0", 2},                  // a surrogate cut short
                      Utf16Case{"\xC0\xAF", 2}));                // overlong form is invalid

// A length is what the host that counts in UTF-16 would count: the name as
// the Windows backend converts it.
TEST_P(Utf16Length, AgreesWithTheConversionToUtf16) {
    EXPECT_EQ(utf16_length(GetParam().text),
              kestrafin::platform::utf16_from_utf8(GetParam().text).size());
}

TEST(Utf8SequenceLength, TakesWholeValidSequencesAndRefusesEveryMalformedStart) {
    EXPECT_EQ(utf8_sequence_length(""), 0u);
    EXPECT_EQ(utf8_sequence_length("ab"), 1u);
    EXPECT_EQ(utf8_sequence_length("\xC3\xA9x"), 2u);
    EXPECT_EQ(utf8_sequence_length("\xE6\x97\xA5"), 3u);
    EXPECT_EQ(utf8_sequence_length("\xF0\x9F\x90\xA6"), 4u);
    EXPECT_EQ(utf8_sequence_length("\xC0\xAF"), 0u);          // overlong "/"
    EXPECT_EQ(utf8_sequence_length("\xED\xA0\x80"), 0u);      // a surrogate
    EXPECT_EQ(utf8_sequence_length("\xF4\x90\x80\x80"), 0u);  // past U+10FFFF
    EXPECT_EQ(utf8_sequence_length("\xE6\x97"), 0u);          // cut off
    EXPECT_EQ(utf8_sequence_length("\x80"), 0u);              // a lone continuation
}
