#include "listfile/saved_list.h"

#include <gtest/gtest.h>

#include <system_error>

#include "tests/support/temp_tree.h"

using namespace kestrafin::listfile;
using namespace kestrafin::testing;

namespace {

std::vector<std::string> fields_of(std::string_view bytes) {
    std::vector<std::string> fields;
    read_records(bytes, [&](std::string_view text) { fields.emplace_back(text); });
    return fields;
}

std::string encoded(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& text : texts) append_record(out, text);
    return out;
}

void save(const std::string& path, const std::vector<std::string>& texts) {
    save_list(path, [&](const auto& add) {
        for (const auto& text : texts) add(text);
    });
}

}  // namespace

TEST(SavedList, WritesOneQuotedRecordPerLineAndNothingElse) {
    EXPECT_EQ(encoded({"/a/b", "/c, d/e"}), "\"/a/b\"\r\n\"/c, d/e\"\r\n");
    EXPECT_EQ(encoded({}), "");
    EXPECT_EQ(encoded({""}), "\"\"\r\n");
}

TEST(SavedList, AnyListOfTextsReadsBackToItself) {
    const std::vector<std::string> texts = {
        "/plain/path",
        "/with, commas, inside",
        "",
        "/holds \"quotes\" and \"\"",
        "\"",
        "/line\r\nbreak and lone\rcr and lone\nlf",
        std::string("/bytes \xFF\xFE and NUL \0 kept", 25),
        "   blanks around   ",
        "12345",
        "2026-12-07",
    };
    EXPECT_EQ(fields_of(encoded(texts)), texts);
}

struct FieldCase {
    const char* name;
    const char* bytes;
    std::vector<std::string> fields;
    friend void PrintTo(const FieldCase& c, std::ostream* out) { *out << c.name; }
};

class FieldRules : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldRules, ReadAsDecided) {
    EXPECT_EQ(fields_of(GetParam().bytes), GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FieldRules,
    ::testing::Values(
        FieldCase{"UnquotedLineSplitsAtEveryComma", "a,b\r\n", {"a", "b"}},
        FieldCase{"BlankLineGivesAnEmptyEntry", "\"a\"\r\n\r\n\"b\"\r\n", {"a", "", "b"}},
        FieldCase{"BlanksAroundUnquotedFieldsAreKept", "  a  , b\r\n", {"  a  ", " b"}},
        FieldCase{"TextAfterAClosingQuoteIsDropped", "\"a\" junk,\"b\"x\r\n", {"a", "b"}},
        FieldCase{
            "NumbersAndDatesStayText", "007,1.50,12/07/2026\r\n", {"007", "1.50", "12/07/2026"}},
        FieldCase{"MissingClosingQuoteRunsToTheEnd",
                  "\"a\"\r\n\"rest, of\r\nfile",
                  {"a", "rest, of\r\nfile"}},
        FieldCase{"LastLineWithoutLineBreak", "\"a\"\r\n\"b\"", {"a", "b"}},
        FieldCase{"LoneLineFeedsAndCarriageReturnsEndLines", "a\nb\rc", {"a", "b", "c"}},
        FieldCase{"CommaAfterAQuotedFieldIsConsumed", "\"a\",\"b\"\r\n", {"a", "b"}},
        FieldCase{"TrailingCommaGivesAnEmptyField", "\"a\",\r\n", {"a", ""}},
        FieldCase{"DoubledQuoteIsOneQuote", "\"say \"\"hi\"\"\"\r\n", {"say \"hi\""}},
        FieldCase{"EmptyFile", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SavedList, SavesAndLoadsAFileAndReplacesItWhole) {
    TempFolder folder;
    const std::string path = folder / std::string(kSavedListName);
    save(path, {"/one", "/two"});
    EXPECT_EQ(read_bytes(path), "\"/one\"\r\n\"/two\"\r\n");
    save(path, {"/three"});
    EXPECT_EQ(read_bytes(path), "\"/three\"\r\n");
    save(path, {});
    EXPECT_EQ(read_bytes(path), "");
    std::vector<std::string> loaded;
    save(path, {"/a", "/b"});
    load_list(path, [&](std::string_view text) { loaded.emplace_back(text); });
    EXPECT_EQ(loaded, (std::vector<std::string>{"/a", "/b"}));
}

TEST(SavedList, LoadingAMissingFileFailsBeforeAnyRecord) {
    TempFolder folder;
    int calls = 0;
    EXPECT_THROW(load_list(folder / "missing.dxb", [&](std::string_view) { ++calls; }),
                 std::system_error);
    EXPECT_EQ(calls, 0);
}
