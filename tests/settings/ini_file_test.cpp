#include "settings/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "tests/settings/ini_file_fixture.h"
#include "tests/support/temp_tree.h"

using kestrafin::settings_testing::IniFile;
using Kestrafin_Lib::readini;
using Kestrafin_Lib::writeini;
using namespace kestrafin::testing;

namespace {

const std::string kFirstExample(
    "\x5B\x50\x41\x54\x48\x5D\x0D\x0A\x46\x55\x4C\x4C\x50\x41\x54\x48"
    "\x3D\x63\x3A\x5C\x0D\x0A");

}  // namespace

TEST(Writeini, WorkedExamplesByteForByte) {
    IniFile first;
    first.write("c:\\");
    EXPECT_EQ(first.bytes(), kFirstExample);
    EXPECT_EQ(first.bytes().size(), 22u);
    first.write("c:\\");
    EXPECT_EQ(first.bytes(), kFirstExample) << "rewriting with its own value changes nothing";
    first.write("d:\\Data");
    EXPECT_EQ(first.bytes(), "[PATH]\r\nFULLPATH=d:\\Data\r\n");
    EXPECT_EQ(first.bytes().size(), 26u);

    IniFile other("[other]\r\nx=1\r\n");
    other.write("c:\\");
    EXPECT_EQ(other.bytes(), "[other]\r\nx=1\r\n\r\n[PATH]\r\nFULLPATH=c:\\\r\n");

    IniFile key_missing("[PATH]\r\nOTHER=1\r\n");
    key_missing.write("c:\\");
    EXPECT_EQ(key_missing.bytes(), "[PATH]\r\nFULLPATH=c:\\\r\nOTHER=1\r\n");
}

TEST(Readini, WorkedExampleIgnoresLetterCaseOfSectionAndKey) {
    IniFile file("[Path]\r\nfullpath=D:\\Data\r\n");
    EXPECT_EQ(file.read(), "D:\\Data");
}

TEST(IniFile, AMissingFileIsCreatedEmptyByBothOperations) {
    TempFolder folder;
    const std::string path = folder / "new.ini";
    EXPECT_EQ(readini(path, "PATH", "FULLPATH"), "");
    EXPECT_TRUE(read_bytes(path).empty());
    EXPECT_TRUE(std::filesystem::exists(path));
    std::filesystem::remove(path);
    writeini(path, "PATH", "FULLPATH", "c:\\");
    EXPECT_EQ(read_bytes(path), kFirstExample);
}

TEST(Writeini, KeepsAnExistingHeadersCaseAndWritesTheCallersKeyCase) {
    IniFile file("[Path]\r\nfullpath=old\r\n");
    file.write("new");
    EXPECT_EQ(file.bytes(), "[Path]\r\nFULLPATH=new\r\n");
}

struct LineCase {
    const char* name;
    const char* content;
    const char* read_result;
    const char* after_write;  // after writing "v"
    friend void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }
};

class IniLineRules : public ::testing::TestWithParam<LineCase> {};

TEST_P(IniLineRules, ReadAndWriteAgree) {
    const LineCase& c = GetParam();
    IniFile file(c.content);
    EXPECT_EQ(file.read(), c.read_result);
    file.write("v");
    EXPECT_EQ(file.bytes(), c.after_write);
    EXPECT_EQ(file.read(), "v");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniLineRules,
    ::testing::Values(
        LineCase{"HeaderWithBlankIsNoHeader", " [PATH]\r\nFULLPATH=x\r\n", "",
                 " [PATH]\r\nFULLPATH=x\r\n\r\n[PATH]\r\nFULLPATH=v\r\n"},
        LineCase{"HeaderWithTrailingTextIsNoHeader", "[PATH] old\r\nFULLPATH=x\r\n", "",
                 "[PATH] old\r\nFULLPATH=x\r\n\r\n[PATH]\r\nFULLPATH=v\r\n"},
        LineCase{"BlankBeforeEqualsMakesNoKeyLine", "[PATH]\r\nFULLPATH =x\r\n", "",
                 "[PATH]\r\nFULLPATH=v\r\nFULLPATH =x\r\n"},
        LineCase{"ValueHoldingEquals", "[PATH]\r\nFULLPATH=a=b\r\n", "a=b",
                 "[PATH]\r\nFULLPATH=v\r\n"},
        LineCase{"KeyOnlyInAnotherSection", "[other]\r\nFULLPATH=x\r\n[PATH]\r\nA=1\r\n", "",
                 "[other]\r\nFULLPATH=x\r\n[PATH]\r\nFULLPATH=v\r\nA=1\r\n"},
        LineCase{"KeyLineBeforeTheFirstHeader", "FULLPATH=x\r\n[PATH]\r\n", "",
                 "FULLPATH=x\r\n[PATH]\r\nFULLPATH=v\r\n"},
        LineCase{"HeaderAsLastLineWithoutLineBreak", "[PATH]", "",
                 "[PATH]\r\n\r\n[PATH]\r\nFULLPATH=v\r\n"},
        LineCase{"SectionTwiceWorksInTheFirst", "[PATH]\r\nA=1\r\n[PATH]\r\nFULLPATH=second\r\n",
                 "second", "[PATH]\r\nFULLPATH=v\r\nA=1\r\n[PATH]\r\nFULLPATH=second\r\n"},
        LineCase{"EmptyValue", "[PATH]\r\nFULLPATH=\r\n", "", "[PATH]\r\nFULLPATH=v\r\n"},
        // A character no ANSI code page holds keeps the mark on Windows too.
        LineCase{"ByteOrderMarkBeforeTheFirstHeader",
                 "\xEF\xBB\xBF[Path]\r\nFULLPATH=x\r\nA=\xF0\x9F\x98\x80\r\n", "x",
                 "\xEF\xBB\xBF[Path]\r\nFULLPATH=v\r\nA=\xF0\x9F\x98\x80\r\n"},
        LineCase{"RunsOfBlankLinesAndControlsAtTheEnds",
                 "\t\r\n\r\n[PATH]\r\n\r\n\r\n\r\n\r\nA=1\r\n \r\n\r\n\r\n\x01\r\n\r\n", "",
                 "[PATH]\r\nFULLPATH=v\r\n\r\nA=1\r\n \r\n"},
        LineCase{"KeyLineLastWithoutLineBreak", "x=1\r\n[PATH]\r\nFULLPATH=old", "old",
                 "x=1\r\n[PATH]\r\nFULLPATH=v\r\n"},
        LineCase{"LoneCarriageReturnsEndLines", "[PATH]\rFULLPATH=/x\r", "/x",
                 "[PATH]\rFULLPATH=v\r\n"},
        LineCase{"HeaderAfterALoneCarriageReturn", "x=1\r[PATH]\rA=1\r", "",
                 "x=1\r[PATH]\rFULLPATH=v\r\nA=1\r\n"},
        LineCase{"KeyAfterALoneCarriageReturnInLaterSection", "[a]\r\n[PATH]\rB=2\rFULLPATH=/x\r\n",
                 "/x", "[a]\r\n[PATH]\rB=2\rFULLPATH=v\r\n"},
        LineCase{"KeyAfterALoneLineFeedIsInsideALine", "[PATH]\r\nA=1\nFULLPATH=x\r\n", "",
                 "[PATH]\r\nFULLPATH=v\r\nA=1\nFULLPATH=x\r\n"},
        LineCase{"HeaderAfterALoneLineFeedIsInsideALine", "x\n[PATH]\r\nFULLPATH=x\r\n", "",
                 "x\n[PATH]\r\nFULLPATH=x\r\n\r\n[PATH]\r\nFULLPATH=v\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Readini, AValueHoldingABracketReadsBack) {
    IniFile file;
    file.write("/home/me/Projects [old]");
    EXPECT_EQ(file.read(), "/home/me/Projects [old]");
    file.write("/srv/[x]");
    EXPECT_EQ(file.read(), "/srv/[x]");
    // Another line with a bracket still ends the section for the reader.
    IniFile ended("[PATH]\r\nOTHER=[x]\r\nFULLPATH=after\r\n");
    EXPECT_EQ(ended.read(), "");
    // A bracket before the key's "=" makes no key line.
    IniFile bracket_key("[PATH]\r\nFULL[PATH=x\r\n");
    EXPECT_EQ(bracket_key.read("PATH", "FULL[PATH"), "");
}

TEST(Writeini, RefusesLineBreaksAndTrailingControlsAndLeavesTheFile) {
    IniFile file("[PATH]\r\nFULLPATH=keep\r\n");
    const std::string before = file.bytes();
    EXPECT_THROW(file.write("/tmp/a\r\n[EVIL]\r\nx=1"), std::invalid_argument);
    EXPECT_THROW(file.write("line\nbreak"), std::invalid_argument);
    EXPECT_THROW(file.write("ends in tab\t"), std::invalid_argument);
    EXPECT_THROW(file.write("v", "PA\rTH"), std::invalid_argument);
    EXPECT_THROW(file.write("v", "PATH", "KEY\n"), std::invalid_argument);
    EXPECT_EQ(file.bytes(), before);
    try {
        file.write("a\nb");
        FAIL() << "no error";
    } catch (const std::invalid_argument& error) {
        EXPECT_NE(std::string(error.what()).find(file.path), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("line break"), std::string::npos);
    }
}

TEST(IniFile, SeveralMegabytesReadAndWrite) {
    std::string big = "[PATH]\r\n";
    for (int i = 0; big.size() < 5'000'000; ++i)
        big += "KEY" + std::to_string(i) + "=some value\r\n";
    big += "FULLPATH=old\r\n[NEXT]\r\nA=1\r\n";
    IniFile file(big);
    EXPECT_EQ(file.read(), "old");
    file.write("new");
    EXPECT_EQ(file.read(), "new");
    const std::string after = file.bytes();
    EXPECT_EQ(after.size(), big.size());
    EXPECT_NE(after.find("FULLPATH=new\r\n[NEXT]"), std::string::npos);
}
