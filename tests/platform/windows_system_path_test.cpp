// Wine opens long paths even without the "\\?\" prefix, so these tests check
// the text of every path the platform layer hands to the system.
#include <gtest/gtest.h>

#include "platform/windows/system.h"

using kestrafin::platform::windows::system_path;

namespace {

std::wstring converted(std::string_view path) {
    std::error_code error;
    std::wstring result = system_path(path, error);
    EXPECT_FALSE(error) << path << ": " << error.message();
    return result;
}

std::wstring current_folder() {
    std::wstring folder(::GetCurrentDirectoryW(0, nullptr), L'\0');
    folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    return folder;
}

}  // namespace

TEST(WindowsSystemPath, DrivePathsSharesAndPrefixedPathsGetTheRightPrefix) {
    EXPECT_EQ(converted("C:\\Users\\a"), L"\\\\?\\C:\\Users\\a");
    EXPECT_EQ(converted("c:\\"), L"\\\\?\\c:\\");
    EXPECT_EQ(converted("\\\\server\\share\\folder"), L"\\\\?\\UNC\\server\\share\\folder");
    // An already prefixed path is the user's exact request: no rewriting at all.
    EXPECT_EQ(converted("\\\\?\\C:\\a\\..\\b"), L"\\\\?\\C:\\a\\..\\b");
    EXPECT_EQ(converted("\\\\?\\UNC\\server\\share"), L"\\\\?\\UNC\\server\\share");
}

TEST(WindowsSystemPath, RelativeAndUntidyPathsAreMadeAbsoluteFirst) {
    std::wstring folder = current_folder();
    ASSERT_FALSE(folder.empty());
    if (folder.back() != L'\\') folder.push_back(L'\\');
    EXPECT_EQ(converted("relative\\name"), L"\\\\?\\" + folder + L"relative\\name");
    // With the prefix the system resolves neither "/" nor "." nor "..".
    EXPECT_EQ(converted("C:/a/./b/../c"), L"\\\\?\\C:\\a\\c");
    EXPECT_EQ(converted("//server/share/x"), L"\\\\?\\UNC\\server\\share\\x");
}

TEST(WindowsSystemPath, LongAndNonAsciiPathsPassWhole) {
    std::string long_path = "C:";
    std::wstring expected = L"\\\\?\\C:";
    for (int level = 0; level < 40; ++level) {
        long_path += "\\" + std::string(40, 'a') + "\xC3\xA9";
        expected += L"\\" + std::wstring(40, L'a') + L"\u00e9";
    }
    EXPECT_EQ(converted(long_path), expected);
    EXPECT_GT(expected.size(), 1000u);
}

TEST(WindowsSystemPath, EmptyPathsAndPathsWithANulAreRefused) {
    for (const std::string_view path : {std::string_view(), std::string_view("C:\\a\0b", 6)}) {
        std::error_code error;
        EXPECT_TRUE(system_path(path, error).empty());
        EXPECT_EQ(error, std::error_code(ERROR_INVALID_NAME, std::system_category()));
    }
}
