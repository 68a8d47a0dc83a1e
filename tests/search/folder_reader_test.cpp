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

TEST(FolderReader, FoldersThatWouldSignInElsewhereOrFetchFromTheCloudAreNotToBeEntered) {
    using kestrafin::platform::EntryKind;
    using kestrafin::platform::FolderEntry;
    using kestrafin::search::ListingRequest;
    using kestrafin::search::NotEntered;
    using kestrafin::search::not_to_enter;
    const auto entry = [](EntryKind kind, bool other_machine, bool offline) {
        FolderEntry made;
        made.kind = kind;
        made.on_other_machine = other_machine;
        made.offline = offline;
        return made;
    };
    const auto request = [](bool follow_links, bool include_offline) {
        ListingRequest made;
        made.follow_links = follow_links;
        made.include_offline = include_offline;
        return made;
    };
    const struct {
        const char* what;
        FolderEntry entry;
        ListingRequest request;
        std::optional<NotEntered> reason;
    } cases[] = {
        {"a folder", entry(EntryKind::folder, false, false), request(true, false), std::nullopt},
        {"a link", entry(EntryKind::link_to_folder, false, false), request(true, false),
         std::nullopt},
        {"a link, not followed", entry(EntryKind::link_to_folder, false, false),
         request(false, false), NotEntered::link},
        {"a link to another machine, whatever is followed",
         entry(EntryKind::link_to_folder, true, false), request(false, true),
         NotEntered::other_machine},
        {"an offline folder", entry(EntryKind::folder, false, true), request(true, false),
         NotEntered::offline},
        {"an offline folder, offline ones read", entry(EntryKind::folder, false, true),
         request(true, true), std::nullopt},
    };
    for (const auto& folder : cases)
        EXPECT_EQ(not_to_enter(folder.entry, folder.request), folder.reason) << folder.what;
}
