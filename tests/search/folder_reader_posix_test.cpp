// The folder reader on links, sockets and kernel file systems.
#include "platform/folders.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/search/transcript_compare.h"
#include "tests/support/silent_share.h"
#include "tests/support/temp_tree.h"

using kestrafin::platform::EntryKind;
using kestrafin::platform::Folder;
using kestrafin::platform::FolderEntry;
using namespace kestrafin::testing;

namespace {

std::map<std::string, EntryKind> all_entries(Folder& folder) {
    std::map<std::string, EntryKind> entries;
    FolderEntry entry;
    std::error_code error;
    while (folder.next(entry, error)) entries.emplace(entry.name, entry.kind);
    EXPECT_FALSE(error) << error.message();
    return entries;
}

}  // namespace

TEST(FolderReader, TellsTheKindOfEveryEntryAndFollowsLinksOnlyToSeeTheirTarget) {
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

    std::error_code error;
    Folder folder = Folder::open(tree.path(), error);
    ASSERT_TRUE(folder.is_open()) << error.message();
    const auto entries = all_entries(folder);
    close(sock);
    EXPECT_EQ(entries,
              (std::map<std::string, EntryKind>{{".", EntryKind::folder},
                                                {"..", EntryKind::folder},
                                                {"plain", EntryKind::file},
                                                {"folder", EntryKind::folder},
                                                {"link-to-folder", EntryKind::link_to_folder},
                                                {"link-to-file", EntryKind::other},
                                                {"broken-link", EntryKind::other},
                                                {"fifo", EntryKind::other},
                                                {"socket", EntryKind::other}}));
    // At the end, next() keeps saying so.
    FolderEntry entry;
    EXPECT_FALSE(folder.next(entry, error));
    EXPECT_FALSE(error);
}

TEST(FolderReader, OpensAChildRelativeToItsParentFollowingLinksOnlyWhenAsked) {
    TempFolder tree;
    make_folder(tree / "child");
    make_file(tree / "child/inner");
    make_link("child", tree / "link");
    std::error_code error;
    Folder parent = Folder::open(tree.path(), error);
    Folder child = Folder::open_child(parent, "child", tree / "child", false, error);
    ASSERT_TRUE(child.is_open()) << error.message();
    EXPECT_EQ(all_entries(child).count("inner"), 1u);

    struct stat info {};
    ASSERT_EQ(stat((tree / "child").c_str(), &info), 0);
    const auto identity = child.identity(error);
    EXPECT_FALSE(error);
    EXPECT_EQ(identity.file, static_cast<std::uint64_t>(info.st_ino));
    EXPECT_EQ(identity.volume, static_cast<std::uint64_t>(info.st_dev));
    EXPECT_FALSE(parent.identity(error) == identity);

    EXPECT_FALSE(Folder::open_child(parent, "link", tree / "link", false, error).is_open())
        << "a link where a plain folder was read is not followed";
    EXPECT_TRUE(error);
    Folder through_link = Folder::open_child(parent, "link", tree / "link", true, error);
    ASSERT_TRUE(through_link.is_open());
    EXPECT_EQ(through_link.identity(error), identity);
    EXPECT_FALSE(Folder::open_child(parent, "child/..", tree.path(), true, error).is_open())
        << "a name is one name, never a path";
}

// Some hosts end a folder at the read that reached its end, spared the one
// that would return nothing: folders that just fill a block, those one name
// larger, and those of many blocks are read whole, below a parent whose
// volume is known as the walk opens them.
TEST(FolderReader, ReadsEveryNameOfAFolderAroundOneBlockFull) {
    TempFolder tree;
    std::error_code error;
    Folder parent = Folder::open(tree.path(), error);
    parent.identity(error);
    for (const auto& [names, length] : std::to_array<std::pair<std::size_t, std::size_t>>(
             {{0, 1}, {15, 255}, {16, 255}, {338, 4}, {339, 4}, {340, 4}, {1000, 255}})) {
        const std::string folder = std::to_string(names) + "x" + std::to_string(length);
        make_folder(tree / folder);
        std::map<std::string, EntryKind> made = {{".", EntryKind::folder},
                                                 {"..", EntryKind::folder}};
        for (std::size_t index = 0; index < names; ++index) {
            std::string name = std::to_string(index);
            name.resize(length, '-');
            make_file(tree / folder + "/" + name);
            made.emplace(name, EntryKind::file);
        }
        Folder child = Folder::open_child(parent, folder, tree / folder, false, error);
        ASSERT_TRUE(child.is_open()) << error.message();
        child.identity(error);
        EXPECT_EQ(all_entries(child), made) << folder;
    }
}

// Readers start readers, and a thread starts with its creator's niceness.
TEST(FolderReader, ThreadsGiveWayOnceHoweverDeepTheyAreStarted) {
    const int process = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (process > 13) GTEST_SKIP() << "too nice already to tell one step from two";
    int first = 0;
    int second = 0;
    std::thread([&] {
        kestrafin::platform::give_way_to_other_threads();
        first = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        std::thread([&] {
            kestrafin::platform::give_way_to_other_threads();
            second = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        }).join();
    }).join();
    EXPECT_GT(first, process);
    EXPECT_EQ(second, first) << "started by a thread that gave way";
}

TEST(FolderReader, TellsKernelFileSystemsFromThoseWithUserFiles) {
    TempFolder tree;
    std::error_code error;
    EXPECT_FALSE(Folder::open(tree.path(), error).on_kernel_file_system());
    for (const char* kernel : {"/proc", "/sys", "/dev/pts"}) {
        Folder folder = Folder::open(kernel, error);
        if (!folder.is_open()) {
            ADD_FAILURE() << kernel << " cannot be opened here: " << error.message();
            continue;
        }
        EXPECT_TRUE(folder.on_kernel_file_system()) << kernel;
    }
    struct statfs info {};
    // devtmpfs and tmpfs share a magic number; only the first holds no user files.
    if (statfs("/dev", &info) == 0 && info.f_type == 0x01021994) {
        EXPECT_TRUE(Folder::open("/dev", error).on_kernel_file_system()) << "devtmpfs";
    }
    if (statfs("/dev/shm", &info) == 0 && info.f_type == 0x01021994) {
        EXPECT_FALSE(Folder::open("/dev/shm", error).on_kernel_file_system()) << "tmpfs";
    }
}

// Readers that open folders while the host grows its table of handles all
// wait for it, so a walk makes room before they start.
TEST(FolderReader, MakesRoomForHandlesWithoutOpeningAny) {
    const auto table_size = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.starts_with("FDSize:")) return std::stoul(line.substr(7));
        return 0ul;
    };
    // Without a size to read, or with a table that may grow no more, the
    // table would hold what is asked whatever the call did.
    const std::size_t size_before = table_size();
    if (size_before == 0) GTEST_SKIP() << "/proc/self/status tells no FDSize here";
    const std::size_t limit = kestrafin::platform::open_handle_limit();
    if (size_before >= limit) GTEST_SKIP() << "the table already holds every handle allowed";
    const std::size_t before = entries_in("/proc/self/fd");
    const std::size_t wanted = std::min(size_before * 4, limit);
    kestrafin::platform::make_room_for_handles(wanted);
    EXPECT_GE(table_size(), wanted);
    EXPECT_EQ(entries_in("/proc/self/fd"), before);
}

#ifdef KESTRAFIN_LATENCY_FS
// On a share every lookup of a link waits for the server, so the links of a
// folder are looked up at once: each entry still comes once, in the host's
// order, with the kind it has when looked up one after another. The links
// fill several of the host's reads, each looked up at once in turn.
TEST(FolderReader, LinksLookedUpAtOnceOnAShareComeInOrderWithTheirKinds) {
    ShareFolders folders;
    const auto in_source = [&](const std::string& name) { return folders.source + "/" + name; };
    make_folder(in_source("folder"));
    make_file(in_source("plain"));
    constexpr int kLinks = 400;
    const std::array<const char*, 3> targets = {"folder", "plain", "nowhere"};
    for (int link = 0; link < kLinks; ++link)
        make_link(targets[link % 3], in_source("link" + std::to_string(link)));
    ShareServer server(folders.source, folders.share, StopsBySelf::never, 1);
    if (!server.serving()) GTEST_SKIP() << server.why_not();

    using Entries = std::vector<std::pair<std::string, EntryKind>>;
    kestrafin::platform::LookupHelpers helpers;
    const auto read_all = [&](std::size_t at_once) {
        Entries entries;
        std::error_code error;
        Folder folder = Folder::open(folders.share, error);
        EXPECT_TRUE(folder.is_open()) << error.message();
        folder.look_up_at_once(at_once, helpers);
        FolderEntry entry;
        while (folder.next(entry, error)) entries.emplace_back(entry.name, entry.kind);
        EXPECT_FALSE(error) << error.message();
        return entries;
    };
    // First while nothing is cached, so that every lookup waits.
    const Entries at_once = read_all(8);
    const Entries one_by_one = read_all(1);
    EXPECT_EQ(at_once, one_by_one);
    EXPECT_EQ(one_by_one.size(), std::size_t{kLinks + 4});  // ".", "..", "folder", "plain"
}
#endif
