// The folder reader's failures, on every host.
#include "platform/folders.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <system_error>

#include "search/folder_listing.h"
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

// Links not followed and links to another machine are walks' own tests; an
// offline folder, which only Windows makes, is decided here.
TEST(FolderReader, AnOfflineFolderIsNotToBeEnteredUnlessOfflineOnesAreRead) {
    using kestrafin::search::NotEntered;
    kestrafin::platform::FolderEntry offline;
    offline.kind = kestrafin::platform::EntryKind::folder;
    offline.offline = true;
    kestrafin::search::ListingRequest request;
    EXPECT_EQ(kestrafin::search::not_to_enter(offline, request), NotEntered::offline);
    request.include_offline = true;
    EXPECT_EQ(kestrafin::search::not_to_enter(offline, request), std::nullopt);
    // A link to another machine is never entered, whatever else is asked.
    offline.on_other_machine = true;
    EXPECT_EQ(kestrafin::search::not_to_enter(offline, request), NotEntered::other_machine);
}
