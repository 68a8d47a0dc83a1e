// The folder reader's failures, on every host.
#include "platform/folders.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "tests/support/temp_tree.h"

using kestrafin::platform::Folder;
using namespace kestrafin::testing;

TEST(FolderReader, FailsToOpenWhatIsNoFolderWithTheHostsReason) {
    TempFolder tree;
    make_file(tree / "file");
    std::error_code error;
    EXPECT_FALSE(Folder::open(tree / "file", error).is_open());
    EXPECT_EQ(error, std::errc::not_a_directory);
    EXPECT_FALSE(Folder::open(tree / "missing", error).is_open());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    // The host would stop at the NUL and open the folder before it.
    using namespace std::string_literals;
    EXPECT_FALSE(Folder::open(tree.path() + "\0/elsewhere"s, error).is_open());
    EXPECT_TRUE(error);
}
