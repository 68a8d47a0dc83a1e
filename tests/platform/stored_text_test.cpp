#include "platform/stored_text.h"

#include <gtest/gtest.h>

#include <string>

using kestrafin::platform::Utf8Check;

namespace {

struct Utf8Case {
    const char* name;
    std::string bytes;
    bool valid;
};

class Utf8Pieces : public ::testing::TestWithParam<Utf8Case> {};

}  // namespace

// A file is read in pieces of any size: the answer never depends on where
// they are cut.
TEST_P(Utf8Pieces, TheAnswerDoesNotDependOnWhereThePiecesAreCut) {
    const Utf8Case& c = GetParam();
    for (std::size_t first = 0; first <= c.bytes.size(); ++first)
        for (std::size_t second = first; second <= c.bytes.size(); ++second) {
            Utf8Check check;
            check.add(std::string_view(c.bytes).substr(0, first));
            check.add(std::string_view(c.bytes).substr(first, second - first));
            check.add(std::string_view(c.bytes).substr(second));
            EXPECT_EQ(check.valid(), c.valid) << "cut at " << first << " and " << second;
        }
}

INSTANTIATE_TEST_SUITE_P(Cases, Utf8Pieces,
                         ::testing::Values(Utf8Case{"Ascii", "[PATH]\r\n", true},
                                           Utf8Case{"EveryLength",
                                                    "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
                                           Utf8Case{"EncodedSurrogate", "a\xED\xA0\x80", true},
                                           Utf8Case{"Western",
                                                    "Donn\xE9"
                                                    "es",
                                                    false},
                                           Utf8Case{"Japanese", "\x83\x5C\x81\x5B", false},
                                           Utf8Case{"CutShortAtTheEnd", "ab\xE2\x82", false},
                                           Utf8Case{"Overlong",
                                                    "\xC0\xAF"
                                                    "abcd",
                                                    false}),
                         [](const auto& info) { return std::string(info.param.name); });
