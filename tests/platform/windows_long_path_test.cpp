#include "platform/text.h"

#include <gtest/gtest.h>

using kestrafin::platform::has_system_prefix;
using kestrafin::platform::with_long_path_prefix;
using kestrafin::platform::without_long_path_prefix;

namespace {

std::string printable(const std::u16string& text) {
    return {text.begin(), text.end()};
}

}  // namespace

TEST(WindowsLongPath, DrivePathsAndSharesGetTheirOwnPrefix) {
    EXPECT_EQ(printable(with_long_path_prefix(u"C:\\Users\\a")), "\\\\?\\C:\\Users\\a");
    EXPECT_EQ(printable(with_long_path_prefix(u"c:\\")), "\\\\?\\c:\\");
    EXPECT_EQ(printable(with_long_path_prefix(u"\\\\server\\share\\folder")),
              "\\\\?\\UNC\\server\\share\\folder");
    EXPECT_EQ(printable(with_long_path_prefix(u"\\\\server\\share")), "\\\\?\\UNC\\server\\share");
}

TEST(WindowsLongPath, PrefixedPathsAreKeptAsTheyAre) {
    for (const std::u16string path : {u"\\\\?\\C:\\x", u"\\\\?\\UNC\\server\\share\\x",
                                      u"\\\\.\\pipe\\name", u"\\\\?\\Volume{0f1e}\\x"}) {
        EXPECT_TRUE(has_system_prefix(path)) << printable(path);
        EXPECT_EQ(with_long_path_prefix(path), path);
    }
    EXPECT_FALSE(has_system_prefix(u"\\\\server\\share"));
    EXPECT_FALSE(has_system_prefix(u"C:\\"));
}

TEST(WindowsLongPath, TheUserReadsPathsWithoutThePrefix) {
    EXPECT_EQ(printable(without_long_path_prefix(u"\\\\?\\C:\\x\\y")), "C:\\x\\y");
    EXPECT_EQ(printable(without_long_path_prefix(u"\\\\?\\UNC\\server\\share\\x")),
              "\\\\server\\share\\x");
    EXPECT_EQ(printable(without_long_path_prefix(u"\\\\?\\unc\\server\\x")), "\\\\server\\x");
    EXPECT_EQ(printable(without_long_path_prefix(u"D:\\plain")), "D:\\plain");
    for (const std::u16string path : {u"C:\\a\\b", u"\\\\server\\share\\b"})
        EXPECT_EQ(without_long_path_prefix(with_long_path_prefix(path)), path);
}
