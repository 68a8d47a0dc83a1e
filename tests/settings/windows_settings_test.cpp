// The settings file and the saved list on Windows, in folders past the
// system's 260-character limit and with names beyond ASCII.
#include <gtest/gtest.h>

#include <windows.h>

#include "listfile/saved_list.h"
#include "settings/ini_file.h"
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
