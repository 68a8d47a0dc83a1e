// "Save List" and "Reload List" where the program folder fails them: names
// that are no regular file, missing rights, a share that stops answering, and
// the memory a reload takes.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "listfile/saved_list.h"
#include "tests/support/silent_share.h"
#include "tests/window/logic_fixture.h"

using namespace kestrafin::testing;
using kestrafin::window::MessageIcon;

namespace {

const std::string kRoot = "/unused";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Waits until the first thread of the child `process` has ended (a zombie),
// for up to a minute.
bool first_thread_ends(pid_t process) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < give_up) {
        std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
        std::string line;
        std::getline(stat, line);
        // The state follows the command name, which ends with the last ')'.
        const std::size_t end = line.rfind(')');
        if (end != std::string::npos && end + 2 < line.size() && line[end + 2] == 'Z') return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The children of this process but `other`.
std::vector<pid_t> children_but(pid_t other) {
    std::ifstream listed("/proc/self/task/" + std::to_string(getpid()) + "/children");
    std::vector<pid_t> children;
    pid_t child = 0;
    while (listed >> child)
        if (child != other) children.push_back(child);
    return children;
}

// A figure of /proc/self/status, such as "VmRSS:", in KiB.
long memory_kib(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
    return -1;
}

}  // namespace

TEST(SavedListLogicPosix, ASavedListThatIsNoRegularFileIsRefusedWithItsKind) {
    LogicUnderTest w(&kRoot);
    const std::string saved = w.folder / "kestrafinlist.dxb";
    const auto make_socket = [&] {
        const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, saved.c_str(), sizeof address.sun_path - 1);
        const bool bound =
            saved.size() < sizeof address.sun_path &&
            bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(listener);
        return bound;
    };
    const std::vector<std::pair<std::string, std::function<bool()>>> kinds = {
        {"FIFO", [&] { return mkfifo(saved.c_str(), 0666) == 0; }},
        {"folder", [&] { return mkdir(saved.c_str(), 0755) == 0; }},
        {"socket", make_socket},
        {"device", [&] { return mknod(saved.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }},
    };
    for (const auto& [kind, make] : kinds) {
        SCOPED_TRACE(kind);
        std::filesystem::remove(saved);
        if (!make()) {
            std::printf("no %s can be made here (%s); that kind is not tried\n", kind.c_str(),
                        std::strerror(errno));
            continue;
        }
        w.fill({"/kept"});
        w.face.count_label = "1 records found";
        w.face.messages.clear();
        const std::string refusal = "it is a " + kind + ", not a regular file";
        // The host refuses to open a socket itself, with its own words.
        const std::string reason = kind == "socket" ? std::strerror(ENXIO) : refusal;
        alarm(10);  // a blocking open ends the test here instead of hanging it
        w.logic->cmdsavelist_Click();
        const bool saved_settled = w.face.settled();
        w.logic->cmdloadlist_Click();
        const bool reload_settled = w.face.settled();
        alarm(0);
        ASSERT_TRUE(saved_settled && reload_settled);
        ASSERT_EQ(w.face.messages.size(), 2u);
        EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
        EXPECT_TRUE(contains(w.face.messages[0].text, refusal)) << w.face.messages[0].text;
        EXPECT_EQ(w.face.messages[1].title, "Kestrafin");
        EXPECT_EQ(w.face.messages[1].icon, MessageIcon::Critical);
        EXPECT_TRUE(contains(w.face.messages[1].text, reason) &&
                    contains(w.face.messages[1].text, "kestrafinlist.dxb"))
            << w.face.messages[1].text;
        EXPECT_EQ(w.entries(), std::vector<std::string>{"/kept"});
        EXPECT_EQ(w.face.count_label, "1 records found");
        struct stat info {};
        ASSERT_EQ(lstat(saved.c_str(), &info), 0);
        EXPECT_FALSE(S_ISREG(info.st_mode));
    }
}

TEST(SavedListLogicPosix, ASavedListThatCannotBeLookedAtIsReportedWithItsReason) {
    LogicUnderTest w(&kRoot);
    const std::string saved = w.folder / "kestrafinlist.dxb";
    w.fill({"/kept"});
    w.face.count_label = "1 records found";
    const auto reload_says = [&](const char* reason) {
        w.face.messages.clear();
        w.logic->cmdloadlist_Click();
        ASSERT_TRUE(w.face.settled());
        ASSERT_EQ(w.face.messages.size(), 1u);
        EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
        EXPECT_TRUE(contains(w.face.messages[0].text, reason)) << w.face.messages[0].text;
        EXPECT_EQ(w.entries(), std::vector<std::string>{"/kept"});
        EXPECT_EQ(w.face.count_label, "1 records found");
    };
    // A link that leads to itself is there, but never reaches a file.
    ASSERT_EQ(symlink("kestrafinlist.dxb", saved.c_str()), 0);
    reload_says(std::strerror(ELOOP));
    std::filesystem::remove(saved);

    // A program folder that this user may not look into hides whether the
    // file is there.
    make_file(saved, "\"/on disk\"\r\n");
    chmod(w.folder.path().c_str(), 0700);
    AsOrdinaryUser ordinary;
    if (!ordinary.was_root && geteuid() == 0) GTEST_SKIP() << "no other user can be taken on here";
    reload_says(std::strerror(EACCES));
}

TEST(SavedListLogicPosix, ASaveThatCannotBeWrittenKeepsThePreviousFile) {
    LogicUnderTest w(&kRoot);
    const std::string saved = w.folder / "kestrafinlist.dxb";
    make_file(saved, "\"/previous\"\r\n");
    w.fill({"/new"});
    chmod(saved.c_str(), 0444);
    w.logic->cmdsavelist_Click();
    ASSERT_TRUE(w.face.settled());
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
    EXPECT_TRUE(contains(w.face.messages[0].text, "kestrafinlist.dxb"));
    EXPECT_EQ(w.saved_list(), "\"/previous\"\r\n");

    chmod(saved.c_str(), 0644);
    chmod(w.folder.path().c_str(), 0555);
    {
        AsOrdinaryUser ordinary;
        w.logic->cmdsavelist_Click();
        ASSERT_TRUE(w.face.settled());
        ASSERT_EQ(w.face.messages.size(), 2u);
        EXPECT_TRUE(contains(w.face.messages[1].text, "Permission denied"))
            << w.face.messages[1].text;
    }
    chmod(w.folder.path().c_str(), 0700);
    EXPECT_EQ(w.saved_list(), "\"/previous\"\r\n");
    EXPECT_EQ(w.entries(), std::vector<std::string>{"/new"});
}

TEST(SavedListLogicPosix, AnUnreadableSavedFileLosesNothing) {
    LogicUnderTest w(&kRoot);
    const std::string saved = w.folder / "kestrafinlist.dxb";
    make_file(saved, "\"/on disk\"\r\n");
    chmod(saved.c_str(), 0000);
    chmod(w.folder.path().c_str(), 0755);
    w.fill({"/current"});
    w.face.count_label = "1 records found";
    {
        AsOrdinaryUser ordinary;
        w.logic->cmdloadlist_Click();
        ASSERT_TRUE(w.face.settled());
        ASSERT_EQ(w.face.messages.size(), 1u);
        EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
        EXPECT_TRUE(contains(w.face.messages[0].text, "Permission denied"))
            << w.face.messages[0].text;
    }
    EXPECT_EQ(w.entries(), std::vector<std::string>{"/current"});
    EXPECT_EQ(w.face.count_label, "1 records found");
}

TEST(SavedListLogicPosix, SavingAndReloadingOnAShareThatStopsAnsweringLeaveTheWindowWorking) {
#ifndef KESTRAFIN_LATENCY_FS
    GTEST_SKIP() << "built without libfuse3, so no share that stops answering can be served";
#else
    const ShareFolders folders;
    const std::string& source = folders.source;
    const std::string& share = folders.share;
    make_file(source + "/kestrafin.ini", "[PATH]\r\nFULLPATH=/unused\r\n");
    make_file(source + "/kestrafinlist.dxb", "\"/from the share\"\r\n");
    ShareServer server(source, share);
    if (!server.serving()) GTEST_SKIP() << server.why_not();
    StandInFace face;
    auto logic = std::make_unique<kestrafin::window::WindowLogic>(face, share);
    face.logic = logic.get();
    logic->Form_Load();
    logic->list_items().Add("/kept");
    logic->list_items().Refresh();

    // The share is read-only, so the save fails once it answers again.
    server.stop_answering();
    EXPECT_TRUE(returns_while_share_is_silent(server, [&] { logic->cmdsavelist_Click(); }))
        << "Save List waited for the share";
    EXPECT_TRUE(logic->busy());
    EXPECT_TRUE(face.messages.empty());
    server.answer_again();
    ASSERT_TRUE(face.settled());
    ASSERT_EQ(face.messages.size(), 1u);
    EXPECT_TRUE(contains(face.messages[0].text, std::strerror(EROFS))) << face.messages[0].text;

    // Escape stops a reload, which waits for the share, and keeps the list.
    server.stop_answering();
    EXPECT_TRUE(returns_while_share_is_silent(server, [&] { logic->cmdloadlist_Click(); }))
        << "Reload List waited for the share";
    EXPECT_EQ(face.activity, kestrafin::window::Activity::Stoppable);
    logic->escape_pressed();
    server.answer_again();
    ASSERT_TRUE(face.settled());
    ASSERT_EQ(logic->list_items().Count(), 1u);
    EXPECT_EQ(logic->list_items().Text(1), "/kept");
    EXPECT_EQ(face.messages.size(), 1u);

    server.stop_answering();
    EXPECT_TRUE(returns_while_share_is_silent(server, [&] { logic->cmdloadlist_Click(); }))
        << "Reload List waited for the share";
    EXPECT_TRUE(logic->busy());
    // Input while the share is silent is dropped. The list is kept until the
    // file is open, and emptied then; where the host opens it without asking
    // the share, the read waits instead.
    press_everything(*logic);
    EXPECT_TRUE(face.prompts.empty());
    const auto& items = logic->list_items();
    EXPECT_TRUE(items.Count() == 0 || (items.Count() == 1 && items.Text(1) == "/kept"))
        << items.Count() << " entries";

    server.answer_again();
    ASSERT_TRUE(face.settled());
    ASSERT_EQ(logic->list_items().Count(), 1u);
    EXPECT_EQ(logic->list_items().Text(1), "/from the share");
    EXPECT_EQ(face.count_label, "1 records found");
    EXPECT_EQ(face.messages.size(), 1u);
#endif
}

// The share stops while the save makes its temporary file, or once it is
// made and the save writes to it.
class ClosingDuringASave : public ::testing::TestWithParam<const char*> {};

TEST_P(ClosingDuringASave, ThatAShareStoppedInTheMiddleLeavesNoTemporaryFile) {
#ifndef KESTRAFIN_LATENCY_FS
    GTEST_SKIP() << "built without libfuse3, so no share that stops answering can be served";
#else
    const bool while_made = std::string(GetParam()) == "while made";
    const ShareFolders folders;
    const std::string& source = folders.source;
    const std::string& share = folders.share;
    make_file(source + "/kestrafin.ini", "[PATH]\r\nFULLPATH=/unused\r\n");
    ShareServer server(source, share,
                       while_made ? StopsBySelf::at_first_create : StopsBySelf::at_first_write);
    if (!server.serving()) GTEST_SKIP() << server.why_not();
    const auto temporaries = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(source))
            if (entry.path().filename().string().rfind(".kestrafin-", 0) == 0)
                names.push_back(entry.path().filename().string());
        return names;
    };
    // What the closing window leaves to remove its files once the share
    // answers becomes this process's child when the window's process ends, so
    // that the test can wait for it.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t window = fork();
    if (window == 0) {
        close(go[1]);
        StandInFace face;
        auto logic = std::make_unique<kestrafin::window::WindowLogic>(face, share);
        face.logic = logic.get();
        logic->Form_Load();
        logic->list_items().Add("/found");
        logic->list_items().Refresh();
        logic->cmdsavelist_Click();
        char told = 0;
        [[maybe_unused]] const auto got = read(go[0], &told, 1);
        logic->close_requested();
        _exit(3);  // the save had ended, so the window closed as usual
    }
    close(go[0]);
    // The share stops once the save's temporary file exists in the folder behind it.
    server.wait_until_stopped();
    EXPECT_EQ(temporaries().size(), 1u);
    [[maybe_unused]] const auto put = write(go[1], "c", 1);
    close(go[1]);
    // The saving thread waits for the share's answer even once the process
    // ends, so the process is reaped only after the share answers; it has
    // ended when its first thread has.
    ASSERT_TRUE(first_thread_ends(window)) << "the window's process did not end";
    server.answer_again();
    int status = 0;
    ASSERT_EQ(waitpid(window, &status, 0), window);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_SUCCESS) << status;
    const std::vector<pid_t> removers = children_but(server.process());
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_EQ(removers.size(), 1u) << "nothing was left to remove the temporary file";
    ASSERT_EQ(waitpid(removers[0], nullptr, 0), removers[0]);
    EXPECT_TRUE(temporaries().empty()) << temporaries()[0];
    EXPECT_FALSE(std::filesystem::exists(source + "/kestrafinlist.dxb"));
#endif
}

INSTANTIATE_TEST_SUITE_P(SavedListLogicPosix, ClosingDuringASave,
                         ::testing::Values("while made", "while written"));

TEST(SavedListLogicPosix, AReloadNeedsLittleMoreMemoryThanTheListItBuilds) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine, so the process's peak "
                    "is not the program's";
#endif
    LogicUnderTest w(&kRoot);
    {
        std::ofstream file(w.folder / "kestrafinlist.dxb", std::ios::binary);
        std::string records;
        for (int i = 0; i < 400'000; ++i) {
            kestrafin::listfile::append_record(
                records, "/srv/share/projects/quarterly reports, archived/" +
                             std::string(60 + i % 90, 'd') + "/" + std::to_string(i) + ".dat");
            if (records.size() > (1 << 20)) {
                file << records;
                records.clear();
            }
        }
        file << records;
    }
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5" << std::flush;
    if (!reset) GTEST_SKIP() << "this system cannot reset the peak memory of a process";
    reset.close();
    const long before = memory_kib("VmRSS:");
    w.logic->cmdloadlist_Click();
    ASSERT_TRUE(w.face.settled());
    ASSERT_EQ(w.logic->list_items().Count(), 400'000u);
    const long peak = memory_kib("VmHWM:") - before;
    const long held = memory_kib("VmRSS:") - before;
    std::printf("reload of 400000 entries: peak %ld KiB above the start, list holds %ld KiB\n",
                peak, held);
    EXPECT_GT(held, 0);
    EXPECT_LE(peak * 4, held * 5) << peak << " > 1.25 x " << held;
}
