// The root folder setting where the program folder fails it: no rights, a
// settings file that is no regular file, a share that stops answering.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/support/silent_share.h"
#include "tests/window/logic_fixture.h"

using namespace kestrafin::testing;
using kestrafin::window::Timer;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Loading in `folder` reported the settings file with `reason`, and the
// window went on with the default root and without a tick; "Save path" then
// reports `save_reason`, and "Change" still works.
void check_load_and_save_fail(LogicUnderTest& w, const std::string& reason,
                              const std::string& save_reason) {
    ASSERT_EQ(w.face.messages.size(), 1u);
    EXPECT_EQ(w.face.messages[0].title, "Kestrafin");
    EXPECT_TRUE(contains(w.face.messages[0].text, "could not be created or read"))
        << w.face.messages[0].text;
    EXPECT_TRUE(contains(w.face.messages[0].text, reason)) << w.face.messages[0].text;
    EXPECT_EQ(w.face.root_box, "/");
    EXPECT_FALSE(w.face.timer_running(Timer::tmrwait2));

    alarm(10);  // a blocking open ends the test here instead of hanging it
    w.logic->cmdsave_Click();
    ASSERT_TRUE(w.face.settled());
    alarm(0);
    ASSERT_EQ(w.face.messages.size(), 2u);
    EXPECT_EQ(w.face.messages[1].title, "Kestrafin");
    EXPECT_TRUE(contains(w.face.messages[1].text, save_reason)) << w.face.messages[1].text;
    w.choose_root("/still/works");
    EXPECT_EQ(w.face.root_box, "/still/works");
}

}  // namespace

TEST(RootSettingLogicPosix, AReadOnlyProgramFolderIsReportedAndTheToolStillWorks) {
    LogicUnderTest w;
    std::filesystem::remove(w.folder / "kestrafin.ini");
    chmod(w.folder.path().c_str(), 0555);
    AsOrdinaryUser ordinary;
    if (!ordinary.was_root && geteuid() == 0) GTEST_SKIP() << "no other user can be taken on here";
    w.load();
    check_load_and_save_fail(w, "Permission denied", "cannot create settings file");
    EXPECT_TRUE(contains(w.face.messages[1].text, "Permission denied"));
}

class NoRegularSettingsFile : public ::testing::TestWithParam<std::string> {};

TEST_P(NoRegularSettingsFile, IsReportedAndTheToolStillWorks) {
    const std::string kind = GetParam();
    LogicUnderTest w;
    const std::string ini = w.folder / "kestrafin.ini";
    std::filesystem::remove(ini);
    int listener = -1;
    if (kind == "FIFO") {
        ASSERT_EQ(mkfifo(ini.c_str(), 0666), 0);
    } else if (kind == "socket") {
        listener = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, ini.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    } else {
        make_folder(ini);
    }
    alarm(10);
    w.load();
    alarm(0);
    check_load_and_save_fail(w, "it is a " + kind + ", not a regular file", "not a regular file");
    struct stat info {};
    ASSERT_EQ(lstat(ini.c_str(), &info), 0);
    EXPECT_FALSE(S_ISREG(info.st_mode));
    if (listener >= 0) close(listener);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NoRegularSettingsFile,
                         ::testing::Values("FIFO", "socket", "folder"));

TEST(RootSettingLogicPosix, ASettingsFileOnAShareThatStopsAnsweringLeavesTheWindowWorking) {
#ifndef KESTRAFIN_LATENCY_FS
    GTEST_SKIP() << "built without libfuse3, so no share that stops answering can be served";
#else
    const ShareFolders folders;
    const std::string& source = folders.source;
    const std::string& share = folders.share;
    make_file(source + "/kestrafin.ini", "[PATH]\r\nFULLPATH=/stored\r\n");
    // A program folder nothing has looked into yet, so that the host must ask
    // the share for it.
    make_folder(source + "/unseen");
    make_file(source + "/unseen/kestrafin.ini", "[PATH]\r\nFULLPATH=/unseen\r\n");
    ShareServer server(source, share);
    if (!server.serving()) GTEST_SKIP() << server.why_not();
    StandInFace face;
    // The share answers this load, however slowly a busy machine lets it.
    auto logic = std::make_unique<kestrafin::window::WindowLogic>(face, share);
    face.logic = logic.get();
    logic->Form_Load();
    EXPECT_EQ(face.root_box, "/stored");

    // "Save path" and the first-run tick both write the settings file; the
    // share is read-only, so the write fails once it answers.
    const std::vector<std::pair<const char*, std::function<void()> > > writers = {
        {"Save path", [&] { logic->cmdsave_Click(); }},
        {"the tick", [&] { logic->tmrwait2_Timer(); }},
    };
    for (const auto& [writer, act] : writers) {
        face.messages.clear();
        server.stop_answering();
        EXPECT_TRUE(returns_while_share_is_silent(server, act)) << writer;
        EXPECT_TRUE(logic->busy());
        // Input while the share is silent is dropped, then and later.
        press_everything(*logic);
        EXPECT_TRUE(face.prompts.empty());
        server.answer_again();
        ASSERT_TRUE(face.settled());
        ASSERT_EQ(face.messages.size(), 1u) << writer;
        EXPECT_EQ(face.messages[0].title, "Kestrafin");
        EXPECT_TRUE(contains(face.messages[0].text, std::strerror(EROFS))) << face.messages[0].text;
        EXPECT_EQ(face.root_box, "/stored");
    }

    // Loading waits only so long, then shows the window without the file; the
    // share stays silent until then, so the patience always runs out.
    StandInFace later;
    kestrafin::window::WindowServices services;
    services.settings_patience = std::chrono::milliseconds(300);
    kestrafin::window::WindowLogic reloaded(later, share + "/unseen", services);
    later.logic = &reloaded;
    server.stop_answering();
    EXPECT_TRUE(returns_while_share_is_silent(server, [&] { reloaded.Form_Load(); }))
        << "loading waited for the share";
    EXPECT_EQ(later.root_box, "/");
    EXPECT_FALSE(later.timer_running(Timer::tmrwait2));
    later.run_posted();
    ASSERT_EQ(later.messages.size(), 1u);
    EXPECT_EQ(later.messages[0].title, "Kestrafin");
    EXPECT_TRUE(contains(later.messages[0].text, "the program folder did not answer"))
        << later.messages[0].text;
    server.answer_again();
#endif
}
