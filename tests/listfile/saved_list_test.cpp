#include "listfile/saved_list.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <system_error>

#include "tests/support/child_process.h"
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

TEST(SavedList, AFailedSaveKeepsThePreviousFile) {
    TempFolder folder;
    const std::string path = folder / std::string(kSavedListName);
    make_file(path, "\"/previous\"\r\n");
    // A file size limit stops the save half way, for root as for anybody.
    const ChildResult limited = in_child(false, [&]() -> std::string {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            save(path, std::vector<std::string>(1000, "/new/entry"));
        } catch (const std::system_error& error) {
            return error.what();
        }
        return "no error";
    });
    EXPECT_NE(limited.report.find("File too large"), std::string::npos) << limited.report;
    EXPECT_EQ(read_bytes(path), "\"/previous\"\r\n");

    // A read-only saved file is respected, also when the user is root.
    const std::string guarded = folder / "guarded.dxb";
    make_file(guarded, "\"/kept\"\r\n");
    chmod(guarded.c_str(), 0444);
    try {
        save(guarded, {"/new"});
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), EACCES);
        EXPECT_NE(std::string(error.what()).find(guarded), std::string::npos);
    }
    EXPECT_EQ(read_bytes(guarded), "\"/kept\"\r\n");
}

TEST(SavedList, LoadingAMissingFileFailsBeforeAnyRecord) {
    TempFolder folder;
    int calls = 0;
    EXPECT_THROW(load_list(folder / "missing.dxb", [&](std::string_view) { ++calls; }),
                 std::system_error);
    EXPECT_EQ(calls, 0);
}
