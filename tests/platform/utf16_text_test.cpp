#include "platform/text.h"

#include <gtest/gtest.h>

using kestrafin::platform::utf16_from_utf8;
using kestrafin::platform::utf8_from_utf16;

TEST(Utf16Text, ConvertsEverySequenceLengthBothWays) {
    const std::u16string wide = u"a\u00e9\u4e2d\U0001F600z";
    const std::string narrow = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
    EXPECT_EQ(utf8_from_utf16(wide), narrow);
    EXPECT_EQ(utf16_from_utf8(narrow), wide);
    EXPECT_EQ(utf8_from_utf16(u""), "");
    EXPECT_EQ(utf16_from_utf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf16Text, EveryUnitOutsidePairsSurvivesTheRoundTrip) {
    for (char32_t unit = 0; unit <= 0xFFFF; ++unit) {
        const std::u16string alone(1, static_cast<char16_t>(unit));
        ASSERT_EQ(utf16_from_utf8(utf8_from_utf16(alone)), alone)
            << "unit " << static_cast<unsigned>(unit);
    }
}

TEST(Utf16Text, UnpairedSurrogatesAreKeptAsThreeByteSequences) {
    const std::u16string lead_alone = {u'x', 0xD800, u'y'};
    EXPECT_EQ(utf8_from_utf16(lead_alone), "x\xED\xA0\x80y");
    const std::u16string trail_alone = {0xDFFF};
    EXPECT_EQ(utf8_from_utf16(trail_alone), "\xED\xBF\xBF");
    // A trail before a lead is no pair: both stay unpaired.
    const std::u16string reversed = {0xDC00, 0xD800};
    EXPECT_EQ(utf8_from_utf16(reversed), "\xED\xB0\x80\xED\xA0\x80");
    EXPECT_EQ(utf16_from_utf8(utf8_from_utf16(reversed)), reversed);
    const std::u16string lead_at_end = {u'n', 0xDBFF};
    EXPECT_EQ(utf16_from_utf8(utf8_from_utf16(lead_at_end)), lead_at_end);
    // A real pair is one four-byte sequence, not two encoded surrogates.
    const std::u16string pair = {0xD83D, 0xDE00};
    EXPECT_EQ(utf8_from_utf16(pair), "\xF0\x9F\x98\x80");
}

TEST(Utf16Text, BytesThatStartNoSequenceBecomeReplacementCharacters) {
    const char16_t replacement = 0xFFFD;
    EXPECT_EQ(utf16_from_utf8("\xFF"), std::u16string(1, replacement));
    EXPECT_EQ(utf16_from_utf8("a\x80z"), (std::u16string{u'a', replacement, u'z'}));
    // Overlong forms and code points past U+10FFFF give one replacement per byte.
    EXPECT_EQ(utf16_from_utf8("\xC0\x80"), std::u16string(2, replacement));
    EXPECT_EQ(utf16_from_utf8("\xE0\x80\x80"), std::u16string(3, replacement));
    EXPECT_EQ(utf16_from_utf8("\xF4\x90\x80\x80"), std::u16string(4, replacement));
    // A sequence cut short by the end of the text.
    EXPECT_EQ(utf16_from_utf8("\xE4\xB8"), std::u16string(2, replacement));
    EXPECT_EQ(utf16_from_utf8("\xF0\x9F\x98"), std::u16string(3, replacement));
}
