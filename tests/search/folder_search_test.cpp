#include "platform/folder_search.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <map>

#include "tests/support/temp_tree.h"

using kestrafin::platform::FindRecord;
using kestrafin::platform::FolderSearch;
using kestrafin::platform::kAttributeDirectory;
using kestrafin::platform::kAttributeReparsePoint;
using namespace kestrafin::testing;

namespace {

std::vector<std::pair<std::string, std::uint32_t>> all_entries(FolderSearch& search) {
    std::vector<std::pair<std::string, std::uint32_t>> entries;
    FindRecord record;
    while (search.next(record)) entries.emplace_back(record.name, record.attributes);
    return entries;
}

}  // namespace

TEST(FolderSearch, DeliversDotsFirstAndTheDirectoryBitForEveryKindOfEntry) {
    TempFolder tree;
    make_file(tree / "plain");
    make_folder(tree / "folder");
    make_link("folder", tree / "link-to-folder");
    make_link("plain", tree / "link-to-file");
    make_link("nowhere", tree / "broken-link");
    ASSERT_EQ(mkfifo((tree / "fifo").c_str(), 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socket_path = tree / "socket";
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    FolderSearch search = FolderSearch::open(tree.path() + "/*.*");
    ASSERT_TRUE(search.valid());
    const auto entries = all_entries(search);
    close(sock);
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0].first, ".");
    EXPECT_EQ(entries[1].first, "..");
    std::map<std::string, std::uint32_t> attributes(entries.begin() + 2, entries.end());
    ASSERT_EQ(attributes.size(), 7u);
    const auto is_folder = [&](const char* name) {
        return (attributes.at(name) & kAttributeDirectory) != 0;
    };
    EXPECT_TRUE(is_folder("folder"));
    EXPECT_TRUE(is_folder("link-to-folder"));
    EXPECT_FALSE(is_folder("plain"));
    EXPECT_FALSE(is_folder("link-to-file"));
    EXPECT_FALSE(is_folder("broken-link"));
    EXPECT_FALSE(is_folder("fifo"));
    EXPECT_FALSE(is_folder("socket"));
    EXPECT_NE(attributes.at("link-to-folder") & kAttributeReparsePoint, 0u);
    EXPECT_EQ(attributes.at("folder") & kAttributeReparsePoint, 0u);
    EXPECT_EQ(search.error(), 0);
}

TEST(FolderSearch, FailsToOpenWhatIsNoFolder) {
    TempFolder tree;
    make_file(tree / "file");
    FolderSearch on_file = FolderSearch::open(tree / "file/*.*");
    EXPECT_FALSE(on_file.valid());
    EXPECT_EQ(on_file.error(), ENOTDIR);
    FolderSearch missing = FolderSearch::open(tree / "missing/*.*");
    EXPECT_FALSE(missing.valid());
    EXPECT_EQ(missing.error(), ENOENT);
    FindRecord record;
    EXPECT_FALSE(missing.next(record));
    // A NUL inside the path does not quietly open the folder before it.
    using namespace std::string_literals;
    EXPECT_FALSE(FolderSearch::open(tree.path() + "\0/elsewhere/*.*"s).valid());
}

TEST(FolderSearch, OpensAChildRelativeToItsParentAndKnowsItsIdentity) {
    TempFolder tree;
    make_folder(tree / "child");
    make_file(tree / "child/inner");
    FolderSearch parent = FolderSearch::open(tree.path() + "/*.*");
    FolderSearch child = FolderSearch::open("ignored when a parent is given", &parent, "child");
    ASSERT_TRUE(child.valid());
    const auto entries = all_entries(child);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].first, "inner");

    struct stat info {};
    ASSERT_EQ(stat((tree / "child").c_str(), &info), 0);
    EXPECT_EQ(child.identity().node, static_cast<std::uint64_t>(info.st_ino));
    EXPECT_FALSE(parent.identity() == child.identity());
}
