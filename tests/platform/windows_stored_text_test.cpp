// Text in a chosen code page through the system's own conversions: both
// directions, exact forms only.
#include <gtest/gtest.h>

#include <string>

#include "platform/stored_text.h"

using kestrafin::platform::append_from_code_page;
using kestrafin::platform::append_in_code_page;

namespace {

struct CodePageCase {
    const char* name;
    unsigned code_page;
    std::string text;    // the program's (UTF-8)
    std::string stored;  // in the code page; unused when the text has no form there
    bool fits;
    friend void PrintTo(const CodePageCase& c, std::ostream* out) { *out << c.name; }
};

class CodePageText : public ::testing::TestWithParam<CodePageCase> {};

}  // namespace

TEST_P(CodePageText, TextHasItsExactFormOrNone) {
    const CodePageCase& c = GetParam();
    std::string stored = "kept";
    EXPECT_EQ(append_in_code_page(stored, c.text, c.code_page), c.fits);
    if (!c.fits) {
        EXPECT_EQ(stored, "kept") << "nothing is appended for a text without a form";
        return;
    }
    EXPECT_EQ(stored, "kept" + c.stored);
    std::string text;
    EXPECT_TRUE(append_from_code_page(text, c.stored, c.code_page));
    EXPECT_EQ(text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CodePageText,
    ::testing::Values(CodePageCase{"Western", 1252,
                                   "D:\\Donn\xC3\xA9"
                                   "es \xE2\x82\xAC",
                                   "D:\\Donn\xE9"
                                   "es \x80",
                                   true},
                      CodePageCase{"WesternHasNoJapanese", 1252, "\xE6\x97\xA5", "", false},
                      // Best fit would write "L" for "Ł".
                      CodePageCase{"WesternTakesNoLookAlike", 1252,
                                   "\xC5\x81"
                                   "odz",
                                   "", false},
                      CodePageCase{"WesternHasNoUnpairedSurrogate", 1252, "a\xED\xA0\x80", "",
                                   false},
                      // The second bytes of ソ and ー are a backslash and a bracket.
                      CodePageCase{"Japanese", 932, "C:\\\xE3\x82\xBD\xE3\x83\xBC\xE6\x97\xA5",
                                   "C:\\\x83\x5C\x81\x5B\x93\xFA", true},
                      CodePageCase{"JapaneseTakesNoLookAlike", 932, "caf\xC3\xA9", "", false},
                      CodePageCase{"Utf8HasNoUnpairedSurrogate", 65001, "a\xED\xA0\x80", "", false},
                      CodePageCase{"Utf8", 65001, "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodePageText, BytesThatStandForNothingAreReportedAndReplaced) {
    std::string text;
    EXPECT_FALSE(append_from_code_page(text, "a\x81", 932));  // a lead byte without its second
    // The system's replacement character stands for it, in UTF-8.
    EXPECT_EQ(text.substr(0, 1), "a");
    EXPECT_GT(text.size(), 1u);
    kestrafin::platform::Utf8Check check;
    check.add(text);
    EXPECT_TRUE(check.valid()) << text;
}
