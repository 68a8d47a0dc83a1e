// The settings file and the saved list on Windows, in folders past the
// system's 260-character limit and with names beyond ASCII.
#include <gtest/gtest.h>

#include <windows.h>

#include "listfile/saved_list.h"
#include "listfile/saved_list_reader.h"
#include "platform/windows/system.h"
#include "settings/ini_file.h"
#include "tests/support/temp_tree.h"
#include "tests/support/windows_temp_folder.h"

using namespace kestrafin::testing;
using Kestrafin_Lib::readini;
using Kestrafin_Lib::writeini;

namespace {

std::string long_folder(const WindowsTempFolder& temp) {
    std::string folder = temp.path();
    for (int level = 0; level < 6; ++level) {
        folder += "\\" + std::string(45, 'p' + level) + "\xE2\x82\xAC";
        make_windows_folder(folder);
    }
    return folder;
}

DWORD attributes_of(const std::string& path) {
    return ::GetFileAttributesW(long_form(path).c_str());
}

// The system's ANSI code page, as one test plays it.
struct PlayedCodePage {
    explicit PlayedCodePage(unsigned code_page) {
        kestrafin::platform::windows::play_ansi_code_page(code_page);
    }
    ~PlayedCodePage() { kestrafin::platform::windows::play_ansi_code_page(0); }
};

struct StoredCase {
    const char* name;
    unsigned code_page;
    std::string file;   // as another program or an earlier build left it
    std::string read;   // the root readini gives
    std::string write;  // the root then written
    std::string after;  // the file's bytes then
    friend void PrintTo(const StoredCase& c, std::ostream* out) { *out << c.name; }
};

class StoredSettings : public ::testing::TestWithParam<StoredCase> {};

const std::string kMark = "\xEF\xBB\xBF";

}  // namespace

TEST(WindowsSettings, TheRootSettingIsStoredAndReadBackPastTheLimit) {
    WindowsTempFolder temp;
    const std::string file = long_folder(temp) + "\\kestrafin.ini";
    EXPECT_EQ(readini(file, "PATH", "FULLPATH"), "");
    EXPECT_NE(attributes_of(file), INVALID_FILE_ATTRIBUTES) << "a missing file is created";
    const std::string root = "\\\\server\\share\\d\xC3\xA9p\xC3\xB4t";
    writeini(file, "PATH", "FULLPATH", root);
    EXPECT_EQ(readini(file, "path", "fullpath"), root);
    writeini(file, "PATH", "FULLPATH", "c:\\");
    EXPECT_EQ(readini(file, "PATH", "FULLPATH"), "c:\\");
}

TEST(WindowsSettings, AReadOnlyHiddenSettingsFileIsReadAndRewrittenAsArchiveOnly) {
    WindowsTempFolder temp;
    const std::string file = temp / "kestrafin.ini";
    writeini(file, "PATH", "FULLPATH", "d:\\data");
    ASSERT_TRUE(::SetFileAttributesW(long_form(file).c_str(),
                                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(readini(file, "PATH", "FULLPATH"), "d:\\data");
    EXPECT_EQ(attributes_of(file), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(::SetFileAttributesW(long_form(file).c_str(),
                                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    writeini(file, "PATH", "FULLPATH", "e:\\");
    EXPECT_EQ(readini(file, "PATH", "FULLPATH"), "e:\\");
    EXPECT_EQ(attributes_of(file) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM), 0u);
}

TEST(WindowsSettings, TheSavedListReloadsWindowsPathsWhole) {
    WindowsTempFolder temp;
    const std::string list = long_folder(temp) + "\\kestrafinlist.dxb";
    const std::vector<std::string> entries = {"C:\\" + std::string(250, 'x') + "\\f\xC3\xA9.txt",
                                              "\\\\server\\share\\\xF0\x9F\x98\x80 \"quoted\".txt",
                                              "Z:\\tmp\\a,b\\c"};
    kestrafin::listfile::save_list(list, [&](const auto& add) {
        for (const auto& entry : entries) add(entry);
    });
    std::vector<std::string> loaded;
    kestrafin::listfile::load_list(list, [&](std::string_view text) { loaded.emplace_back(text); });
    EXPECT_EQ(loaded, entries);
}

TEST_P(StoredSettings, AreReadInTheirFormAndWrittenInTheCodePageWhereTheTextFits) {
    const StoredCase& c = GetParam();
    const PlayedCodePage played(c.code_page);
    WindowsTempFolder temp;
    const std::string file = temp / "kestrafin.ini";
    make_file(file, c.file);
    EXPECT_EQ(readini(file, "PATH", "FULLPATH"), c.read);
    writeini(file, "PATH", "FULLPATH", c.write);
    EXPECT_EQ(read_bytes(file), c.after);
    EXPECT_EQ(readini(file, "PATH", "FULLPATH"), c.write);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredSettings,
    ::testing::Values(
        StoredCase{"WesternStaysWestern", 1252,
                   "[PATH]\r\nFULLPATH=D:\\Donn\xE9"
                   "es\r\n",
                   "D:\\Donn\xC3\xA9"
                   "es",
                   "E:\\Caf\xC3\xA9", "[PATH]\r\nFULLPATH=E:\\Caf\xE9\r\n"},
        StoredCase{"WesternBecomesUtf8ForJapanese", 1252,
                   "[PATH]\r\nFULLPATH=D:\\\r\nNOTE=\xE9t\xE9\r\n", "D:\\", "E:\\\xE6\x97\xA5",
                   kMark + "[PATH]\r\nFULLPATH=E:\\\xE6\x97\xA5\r\nNOTE=\xC3\xA9t\xC3\xA9\r\n"},
        StoredCase{"JapaneseStaysJapanese", 932, "[PATH]\r\nFULLPATH=C:\\\x83\x5C\x83\x74\r\n",
                   "C:\\\xE3\x82\xBD\xE3\x83\x95", "C:\\\xE3\x83\xBC",
                   "[PATH]\r\nFULLPATH=C:\\\x81\x5B\r\n"},
        // The second byte of ー is a bracket, which ends no section.
        StoredCase{"JapaneseBracketBytesAreNoBrackets", 932,
                   "[PATH]\r\nX=\x81\x5B\r\nFULLPATH=old\r\n", "old", "new",
                   "[PATH]\r\nX=\x81\x5B\r\nFULLPATH=new\r\n"},
        StoredCase{"EarlierBuildsUtf8BecomesWestern", 1252,
                   "[PATH]\r\nFULLPATH=D:\\Donn\xC3\xA9"
                   "es\r\n",
                   "D:\\Donn\xC3\xA9"
                   "es",
                   "D:\\Donn\xC3\xA9"
                   "es",
                   "[PATH]\r\nFULLPATH=D:\\Donn\xE9"
                   "es\r\n"},
        StoredCase{"MarkedUtf8ThatFitsLosesItsMark", 932,
                   kMark + "[PATH]\r\nFULLPATH=\xE6\x97\xA5\r\n", "\xE6\x97\xA5", "x",
                   "[PATH]\r\nFULLPATH=x\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WindowsSavedList, IsWrittenInTheCodePageWhereEveryTextFitsAndReadInItsForm) {
    const PlayedCodePage played(1252);
    WindowsTempFolder temp;
    const std::string list = temp / "kestrafinlist.dxb";
    const auto save = [&](const std::vector<std::string>& texts) {
        kestrafin::listfile::save_list(list, [&](const auto& add) {
            for (const auto& text : texts) add(text);
        });
        return read_bytes(list);
    };
    const auto reload = [&] {
        std::vector<std::string> texts;
        kestrafin::listfile::SavedListReader(list).read_all(
            [&](std::string_view text) { texts.emplace_back(text); });
        return texts;
    };
    const std::vector<std::string> western = {
        "C:\\Donn\xC3\xA9"
        "es\\a",
        "C:\\b"};
    EXPECT_EQ(save(western),
              "\"C:\\Donn\xE9"
              "es\\a\"\r\n\"C:\\b\"\r\n");
    EXPECT_EQ(reload(), western);
    const std::vector<std::string> mixed = {
        "C:\\Donn\xC3\xA9"
        "es",
        "C:\\\xE6\x97\xA5"};
    EXPECT_EQ(save(mixed), kMark +
                               "\"C:\\Donn\xC3\xA9"
                               "es\"\r\n\"C:\\\xE6\x97\xA5\"\r\n");
    EXPECT_EQ(reload(), mixed);

    // A list another program wrote in code page 932, read on such a system.
    const PlayedCodePage japanese(932);
    make_file(list, "\"C:\\\x83\x5C\",\"\x81\x5B\"\r\n");
    EXPECT_EQ(reload(), (std::vector<std::string>{"C:\\\xE3\x82\xBD", "\xE3\x83\xBC"}));
}
