// Replacing a file as users do it: real files, as root and as "nobody", with
// owner, group, rights and content checked afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

#include "platform/files.h"
#include "platform/linux/files.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::testing;
using kestrafin::platform::AtomicFileWriter;
using kestrafin::platform::replace_file;

namespace {

struct Facts {
    std::string content;
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
    ino_t inode = 0;
    bool operator==(const Facts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Facts& facts) {
    return out << "'" << facts.content << "' " << facts.owner << ":" << facts.group << " "
               << std::oct << facts.mode << std::dec << " inode " << facts.inode;
}

Facts facts_of(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return {"(missing)", 0, 0, 0, 0};
    return {read_bytes(path), info.st_uid, info.st_gid, info.st_mode & 07777, info.st_ino};
}

std::set<std::string> names_in(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

void make_owned_file(const std::string& path, const std::string& content, uid_t owner, gid_t group,
                     mode_t mode) {
    make_file(path, content);
    check(chown(path.c_str(), owner, group) == 0, "chown");
    check(chmod(path.c_str(), mode) == 0, "chmod");
}

// "ok", or the text of the failure.
std::string save(const std::string& path, const std::string& content) {
    try {
        replace_file(path, content, "test file");
        return "ok";
    } catch (const std::system_error& error) {
        return error.what();
    }
}

bool is_link(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

class AsUser : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to set up files of two users";
        chmod(folder.path().c_str(), 0755);
    }
    bool as_nobody() const { return GetParam(); }
    uid_t user() const { return as_nobody() ? kNobody : 0; }
    std::string save_as_user(const std::string& path, const std::string& content) {
        return in_child(as_nobody(), [&] { return save(path, content); }).report;
    }
    TempFolder folder;
};

}  // namespace

TEST_P(AsUser, OnlyFilesTheUserMayOpenForOutputAreReplacedAndTheyKeepOwnerGroupAndMode) {
    const std::string shared = folder / "shared";
    make_folder(shared);
    chmod(shared.c_str(), 0777);

    make_owned_file(shared + "/roots.ini", "old", 0, 0, 0644);
    const Facts before = facts_of(shared + "/roots.ini");
    const std::string report = save_as_user(shared + "/roots.ini", "new");
    if (as_nobody()) {
        EXPECT_NE(
            report.find("cannot write test file '" + shared + "/roots.ini': Permission denied"),
            std::string::npos)
            << report;
        EXPECT_EQ(facts_of(shared + "/roots.ini"), before);
    } else {
        EXPECT_EQ(report, "ok");
        Facts expected = before;
        expected.content = "new";
        expected.inode = facts_of(shared + "/roots.ini").inode;
        EXPECT_EQ(facts_of(shared + "/roots.ini"), expected);
    }

    // A file of the user's own, in a group and with rights of its own.
    make_owned_file(shared + "/own.ini", "old", user(), kNobody, 0640);
    EXPECT_EQ(save_as_user(shared + "/own.ini", "new"), "ok");
    EXPECT_EQ(facts_of(shared + "/own.ini").content, "new");
    EXPECT_EQ(facts_of(shared + "/own.ini").owner, user());
    EXPECT_EQ(facts_of(shared + "/own.ini").group, kNobody);
    EXPECT_EQ(facts_of(shared + "/own.ini").mode, 0640u);

    // Another user's file that everybody may write stays that user's file.
    make_owned_file(shared + "/open.ini", "old", 0, 0, 0666);
    EXPECT_EQ(save_as_user(shared + "/open.ini", "new"), "ok");
    const Facts open = facts_of(shared + "/open.ini");
    EXPECT_EQ(open.content, "new");
    EXPECT_EQ(open.owner, 0u);
    EXPECT_EQ(open.group, 0u);
    EXPECT_EQ(open.mode, 0666u);
    EXPECT_EQ(names_in(shared), (std::set<std::string>{"roots.ini", "own.ini", "open.ini"}));
}

TEST_P(AsUser, AWritableFileInAFolderTheUserCannotWriteIsWrittenInPlace) {
    const std::string installed = folder / "installed";
    make_folder(installed);
    chmod(installed.c_str(), 0755);
    make_owned_file(installed + "/kestrafin.ini", "old content that is longer", 0, 0, 0666);
    const Facts before = facts_of(installed + "/kestrafin.ini");
    EXPECT_EQ(save_as_user(installed + "/kestrafin.ini", "new"), "ok");
    Facts expected = before;
    expected.content = "new";
    if (!as_nobody()) expected.inode = facts_of(installed + "/kestrafin.ini").inode;
    EXPECT_EQ(facts_of(installed + "/kestrafin.ini"), expected);
    EXPECT_EQ(names_in(installed), std::set<std::string>{"kestrafin.ini"});

    // A new file there needs the folder; the reason is the folder's.
    const std::string report = save_as_user(installed + "/new.dxb", "x");
    if (as_nobody()) {
        EXPECT_NE(
            report.find("cannot create test file '" + installed + "/new.dxb': Permission denied"),
            std::string::npos)
            << report;
        EXPECT_EQ(names_in(installed), std::set<std::string>{"kestrafin.ini"});
    } else {
        EXPECT_EQ(report, "ok");
    }
}

TEST_P(AsUser, LinksStayLinksAndEveryNameSeesTheNewContent) {
    const std::string real = folder / "real", links = folder / "links";
    make_folder(real);
    make_folder(links);
    chmod(real.c_str(), 0777);
    chmod(links.c_str(), 0777);
    make_owned_file(real + "/target.ini", "old", user(), user(), 0640);
    make_link("../real/target.ini", links + "/first");
    make_link(links + "/first", links + "/second");
    EXPECT_EQ(save_as_user(links + "/second", "through two links"), "ok");
    EXPECT_TRUE(is_link(links + "/second"));
    EXPECT_TRUE(is_link(links + "/first"));
    const Facts target = facts_of(real + "/target.ini");
    EXPECT_EQ(target.content, "through two links");
    EXPECT_EQ(target.owner, user());
    EXPECT_EQ(target.mode, 0640u);
    EXPECT_EQ(names_in(real), std::set<std::string>{"target.ini"});

    // A link to a file not yet there creates the file it names.
    make_link("../real/created.dxb", links + "/dangling");
    EXPECT_EQ(save_as_user(links + "/dangling", "made"), "ok");
    EXPECT_TRUE(is_link(links + "/dangling"));
    EXPECT_EQ(read_bytes(real + "/created.dxb"), "made");

    // Two hard links share the new content and stay one file.
    make_owned_file(real + "/one", "old", user(), user(), 0600);
    check(link((real + "/one").c_str(), (real + "/two").c_str()) == 0, "link");
    const ino_t inode = facts_of(real + "/one").inode;
    EXPECT_EQ(save_as_user(real + "/one", "shared by both"), "ok");
    EXPECT_EQ(facts_of(real + "/two").content, "shared by both");
    EXPECT_EQ(facts_of(real + "/two").inode, inode);
    EXPECT_EQ(facts_of(real + "/one").inode, inode);

    // A loop of links is refused and creates nothing.
    make_link(links + "/loop-b", links + "/loop-a");
    make_link(links + "/loop-a", links + "/loop-b");
    const std::set<std::string> before = names_in(links);
    EXPECT_NE(save_as_user(links + "/loop-a", "x").find("Too many levels of symbolic links"),
              std::string::npos);
    EXPECT_EQ(names_in(links), before);
}

TEST_P(AsUser, AnAccessListGrantsWritingAndIsKept) {
    // user::rw- user:nobody:rw- group::r-- mask::rw- other::r--, as the host stores it.
    struct AccessEntry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t version = 2;
    const AccessEntry entries[] = {
        {0x01, 6, ~0u}, {0x02, 6, kNobody}, {0x04, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 4, ~0u}};
    std::string access_list(reinterpret_cast<const char*>(&version), sizeof version);
    access_list.append(reinterpret_cast<const char*>(entries), sizeof entries);

    const std::string shared = folder / "shared";
    make_folder(shared);
    chmod(shared.c_str(), 0777);
    const std::string path = shared + "/listed.ini";
    make_owned_file(path, "old", 0, 0, 0644);
    if (setxattr(path.c_str(), "system.posix_acl_access", access_list.data(), access_list.size(),
                 0) != 0)
        GTEST_SKIP() << "no access lists here: " << strerror(errno);
    const Facts before = facts_of(path);
    EXPECT_EQ(save_as_user(path, "new"), "ok");
    const Facts after = facts_of(path);
    EXPECT_EQ(after.content, "new");
    EXPECT_EQ(after.owner, 0u);
    EXPECT_EQ(after.mode, before.mode);
    std::string kept(access_list.size() + 16, '\0');
    const ssize_t got = getxattr(path.c_str(), "system.posix_acl_access", kept.data(), kept.size());
    ASSERT_GE(got, 0) << strerror(errno);
    kept.resize(static_cast<std::size_t>(got));
    EXPECT_EQ(kept, access_list);
}

TEST_P(AsUser, AFileWithoutAnAccessListGetsNoneFromItsFolder) {
    // The folder's default list would give "nobody" reading on every new file;
    // the replaced file had no list and must not gain one.
    struct AccessEntry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t version = 2;
    const AccessEntry entries[] = {
        {0x01, 6, ~0u}, {0x02, 6, kNobody}, {0x04, 4, ~0u}, {0x10, 6, ~0u}, {0x20, 0, ~0u}};
    std::string default_list(reinterpret_cast<const char*>(&version), sizeof version);
    default_list.append(reinterpret_cast<const char*>(entries), sizeof entries);

    const std::string shared = folder / "shared";
    make_folder(shared);
    chmod(shared.c_str(), 0777);
    if (setxattr(shared.c_str(), "system.posix_acl_default", default_list.data(),
                 default_list.size(), 0) != 0)
        GTEST_SKIP() << "no access lists here: " << strerror(errno);
    const std::string path = shared + "/private.ini";
    make_owned_file(path, "old", GetParam() ? kNobody : 0, 0, 0640);
    removexattr(path.c_str(), "system.posix_acl_access");
    const Facts before = facts_of(path);
    EXPECT_EQ(save_as_user(path, "new"), "ok");
    const Facts after = facts_of(path);
    EXPECT_EQ(after.content, "new");
    EXPECT_EQ(after.mode, before.mode);
    EXPECT_LT(getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0), 0)
        << "the file gained an access list";
}

INSTANTIATE_TEST_SUITE_P(Users, AsUser, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Nobody" : "Root"; });

TEST(AtomicFileWriter, RefusesWhatIsNoRegularFileWithoutBlocking) {
    TempFolder folder;
    const std::string fifo = folder / "fifo", socket_path = folder / "socket",
                      sub = folder / "folder", to_fifo = folder / "link-to-fifo";
    check(mkfifo(fifo.c_str(), 0666) == 0, "mkfifo");
    make_folder(sub);
    make_link(fifo, to_fifo);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
    check(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
    const std::set<std::string> names = names_in(folder.path());

    const std::vector<std::pair<std::string, std::string>> cases = {
        {fifo, "it is a FIFO, not a regular file"},
        {to_fifo, "it is a FIFO, not a regular file"},
        {socket_path, "it is a socket, not a regular file"},
        {sub, "it is a folder, not a regular file"},
        {"/dev/null", "it is a device, not a regular file"}};
    for (const auto& [path, reason] : cases) {
        // A blocked open would end the child by the alarm.
        const ChildResult result = in_child(false, [&] {
            alarm(5);
            return save(path, "x");
        });
        EXPECT_TRUE(WIFEXITED(result.status)) << path << " blocked";
        EXPECT_NE(result.report.find(reason), std::string::npos) << path << ": " << result.report;
    }
    close(listener);
    struct stat info {};
    EXPECT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_TRUE(is_link(to_fifo));
    EXPECT_EQ(names_in(folder.path()), names);
}

TEST(AtomicFileWriter, RefusesFilesTheKernelMakesUp) {
    // Their names look like regular files, but a list written into them goes
    // to the kernel (as root: a sysfs setting, the host name). Both targets
    // here are harmless: the child's own name, and a file without a writer.
    std::vector<std::string> targets = {"/proc/self/comm"};
    struct stat info {};
    if (stat("/sys/kernel/uevent_seqnum", &info) == 0)
        targets.push_back("/sys/kernel/uevent_seqnum");
    for (const std::string& path : targets) {
        const ChildResult result = in_child(false, [&] { return save(path, "x"); });
        EXPECT_NE(result.report.find("it lies on a kernel file system, not a regular file"),
                  std::string::npos)
            << path << ": " << result.report;
    }
}

namespace {

enum class Way { Unnamed, Named, InPlace };

class EveryWay : public ::testing::TestWithParam<Way> {
  protected:
    void SetUp() override {
        make_file(path, "old");
        if (GetParam() == Way::InPlace)
            check(link(path.c_str(), (folder / "other").c_str()) == 0, "link");
        names = names_in(folder.path());
        kestrafin::platform::linux_host::allow_unnamed_temporary_files(GetParam() != Way::Named);
    }
    void TearDown() override {
        kestrafin::platform::linux_host::allow_unnamed_temporary_files(true);
    }
    TempFolder folder;
    std::string path = folder / "list.dxb";
    std::set<std::string> names;
};

}  // namespace

TEST_P(EveryWay, AFailureOrAnAbandonedWriterLeavesTheOldFileAndNothingElse) {
    {
        AtomicFileWriter writer(path, "test file");
        writer.write(std::string(3 << 20, 'a'));
    }
    EXPECT_EQ(read_bytes(path), "old");
    EXPECT_EQ(names_in(folder.path()), names);

    // A size limit that the writer meets half way, which also binds root.
    const ChildResult limited = in_child(false, [&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        return save(path, std::string(1 << 20, 'b'));
    });
    EXPECT_NE(limited.report.find("File too large"), std::string::npos) << limited.report;
    EXPECT_EQ(read_bytes(path), "old");
    EXPECT_EQ(names_in(folder.path()), names);

    EXPECT_EQ(save(path, "new"), "ok");
    EXPECT_EQ(read_bytes(path), "new");
    EXPECT_EQ(names_in(folder.path()), names);
}

TEST_P(EveryWay, AnInterruptingSignalLeavesNoTemporaryFile) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        if (child == 0) {
            AtomicFileWriter writer(path, "test file");
            writer.write(std::string(3 << 20, 'c'));
            [[maybe_unused]] const auto put = write(ready[1], "r", 1);
            for (;;) pause();
        }
        close(ready[1]);
        char mark = 0;
        ASSERT_EQ(read(ready[0], &mark, 1), 1);
        close(ready[0]);
        if (GetParam() == Way::Named) {
            EXPECT_EQ(names_in(folder.path()).size(), names.size() + 1) << "a named file exists";
        }
        kill(child, signal_number);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
            << "the signal still ends the program";
        EXPECT_EQ(read_bytes(path), "old");
        EXPECT_EQ(names_in(folder.path()), names) << "signal " << signal_number;
    }
}

TEST(AtomicFileWriter, ASignalDuringAWriteInPlaceWaitsUntilTheFileIsWhole) {
    // The target has two names, so it is written in place. The writer stops
    // after its first piece until the test has sent the signal.
    TempFolder folder;
    const std::string path = folder / "list.dxb";
    const std::string other = folder / "other";
    const std::string content = std::string(2 << 20, 'n') + std::string(2 << 20, 'e');
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        make_file(path, std::string(5 << 20, 'o'));
        unlink(other.c_str());
        ASSERT_EQ(link(path.c_str(), other.c_str()), 0);
        int half_way[2], go_on[2];
        ASSERT_EQ(pipe(half_way), 0);
        ASSERT_EQ(pipe(go_on), 0);
        const pid_t child = fork();
        if (child == 0) {
            bool waited = false;
            kestrafin::platform::linux_host::call_between_pieces_written_in_place([&] {
                char mark = 0;
                if (waited) return;
                waited = true;
                if (write(half_way[1], "h", 1) != 1 || read(go_on[0], &mark, 1) != 1) _exit(3);
            });
            save(path, content);
            _exit(0);
        }
        close(half_way[1]);
        close(go_on[0]);
        char mark = 0;
        ASSERT_EQ(read(half_way[0], &mark, 1), 1);
        kill(child, signal_number);
        ASSERT_EQ(write(go_on[1], "g", 1), 1);
        int status = 0;
        waitpid(child, &status, 0);
        close(half_way[0]);
        close(go_on[1]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number)
            << "the signal still ends the program, once the write is done: " << signal_number;
        EXPECT_TRUE(read_bytes(path) == content) << "signal " << signal_number;
        EXPECT_TRUE(read_bytes(other) == content) << "signal " << signal_number;
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, EveryWay, ::testing::Values(Way::Unnamed, Way::Named, Way::InPlace),
                         [](const auto& info) {
                             return info.param == Way::Unnamed ? "UnnamedTemporaryFile"
                                    : info.param == Way::Named ? "NamedTemporaryFile"
                                                               : "InPlace";
                         });

TEST(AtomicFileWriter, AFullFileSystemLeavesTheOldFileWhole) {
    TempFolder folder;
    const ChildResult result = in_child(false, [&]() -> std::string {
        if (unshare(CLONE_NEWNS) != 0) return std::string("skip: unshare: ") + strerror(errno);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("skip: private mounts: ") + strerror(errno);
        if (mount("tmpfs", folder.path().c_str(), "tmpfs", 0, "size=256k") != 0)
            return std::string("skip: mount tmpfs: ") + strerror(errno);
        std::string problems;
        const std::string list = folder / "list.dxb", other = folder / "other.dxb";
        const std::string old(100 * 1024, 'o');
        make_file(list, old);
        const std::string big(400 * 1024, 'n');
        for (const bool unnamed : {true, false}) {
            kestrafin::platform::linux_host::allow_unnamed_temporary_files(unnamed);
            const std::string report = save(list, big);
            if (report.find("No space left on device") == std::string::npos)
                problems += "replacing: " + report + "\n";
            if (read_bytes(list) != old) problems += "old list changed\n";
            if (names_in(folder.path()).size() != 1) problems += "debris left\n";
        }
        // Written in place (two names): the room is reserved before any byte changes.
        check(link(list.c_str(), other.c_str()) == 0, "link");
        const std::string report = save(list, big);
        if (report.find("No space left on device") == std::string::npos)
            problems += "in place: " + report + "\n";
        if (read_bytes(other) != old) problems += "old list changed in place\n";
        if (save(list, "fits") != "ok" || read_bytes(other) != "fits")
            problems += "a save that fits failed\n";
        umount(folder.path().c_str());
        return problems.empty() ? "ok" : problems;
    });
    if (result.report.starts_with("skip: ")) {
        GTEST_SKIP() << result.report;
    }
    EXPECT_EQ(result.report, "ok");
}
