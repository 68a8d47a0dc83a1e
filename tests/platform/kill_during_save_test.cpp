// A program killed at any point of a save leaves the saved file whole: the
// old content or the new, never a cut one and never none. A child saves in a
// loop and reports each piece it hands the writer; the test kills it, without
// warning, after a report it picks at random.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/support/host.h"
#include "tests/support/saved_content.h"
#include "tests/support/temp_tree.h"

#if KESTRAFIN_TEST_POSIX_HOST
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

using namespace kestrafin::testing;

namespace {

#if KESTRAFIN_TEST_POSIX_HOST
const std::string kChildName = "kestrafin_saving_child";
#else
const std::string kChildName = "kestrafin_saving_child.exe";
#endif

// The saving child, started on `path`; killed without warning when dropped.
class SavingChild {
  public:
    explicit SavingChild(const std::string& path) {
        const std::string program =
            kestrafin::platform::program_file(kestrafin::platform::program_folder(), kChildName);
#if KESTRAFIN_TEST_POSIX_HOST
        int ends[2];
        if (pipe(ends) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        posix_spawn_file_actions_addclose(&actions, ends[0]);
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                        nullptr};
        started_ = posix_spawn(&child_, program.c_str(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        reports_ = ends[0];
#else
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        HANDLE writing = nullptr;
        if (!::CreatePipe(&reports_, &writing, &inherited, 0)) return;
        ::SetHandleInformation(reports_, HANDLE_FLAG_INHERIT, 0);
        std::wstring command =
            L"\"" + as_path(program).wstring() + L"\" \"" + as_path(path).wstring() + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writing;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        started_ =
            ::CreateProcessW(as_path(program).c_str(), command.data(), nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process_) != 0;
        ::CloseHandle(writing);
#endif
    }
    SavingChild(const SavingChild&) = delete;
    SavingChild& operator=(const SavingChild&) = delete;
    ~SavingChild() {
#if KESTRAFIN_TEST_POSIX_HOST
        if (started_) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        if (reports_ >= 0) close(reports_);
#else
        if (started_) {
            ::TerminateProcess(process_.hProcess, 9);
            ::WaitForSingleObject(process_.hProcess, INFINITE);
            ::CloseHandle(process_.hThread);
            ::CloseHandle(process_.hProcess);
        }
        if (reports_ != nullptr) ::CloseHandle(reports_);
#endif
    }

    // Waits for the next report: 'w' for a piece, 's' for a save; 0 when the
    // child has ended or never started.
    char next_report() {
        char mark = 0;
        if (!started_) return 0;
#if KESTRAFIN_TEST_POSIX_HOST
        return read(reports_, &mark, 1) == 1 ? mark : 0;
#else
        DWORD got = 0;
        return ::ReadFile(reports_, &mark, 1, &got, nullptr) && got == 1 ? mark : 0;
#endif
    }

  private:
    bool started_ = false;
#if KESTRAFIN_TEST_POSIX_HOST
    pid_t child_ = 0;
    int reports_ = -1;
#else
    PROCESS_INFORMATION process_{};
    HANDLE reports_ = nullptr;
#endif
};

}  // namespace

TEST(KillDuringSave, LeavesTheOldOrTheNewFileWholeAndNeverNone) {
    TempFolder folder;
    const std::string path = folder / "kestrafinlist.dxb";
    make_file(path, saved_content(0));
    std::mt19937 random(20261209);
    // A save sends a report for each piece and one when it is done: between
    // 5 and 17 reports, so a kill lands anywhere in the first three saves.
    std::uniform_int_distribution<unsigned> reports(1, 40);
    for (int round = 0; round < 24; ++round) {
        const unsigned after = reports(random);
        {
            SavingChild child(path);
            for (unsigned got = 0; got < after; ++got)
                ASSERT_NE(child.next_report(), 0) << "the saving child stopped";
        }
        ASSERT_TRUE(kestrafin::platform::file_exists(path))
            << "no saved file after a kill past report " << after;
        EXPECT_TRUE(whole_save(kestrafin::platform::read_file(path, "saved list")))
            << "a cut file after a kill past report " << after;
        // Only a complete temporary file may outlive a kill, in the instant
        // before it takes the saved file's name.
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            const std::string name = entry.path().filename().string();
            if (name == "kestrafinlist.dxb") continue;
            EXPECT_TRUE(whole_save(kestrafin::platform::read_file(folder / name, "left over")))
                << name << " left behind, cut, after a kill past report " << after;
        }
    }
}

TEST(KillDuringSave, AReaderWhoLooksWhileFilesAreSavedAlwaysFindsOneWhole) {
    // Where a replacement takes several steps, the name is missing between
    // them: a reader who looks as often as it can meets that.
    TempFolder folder;
    const std::string path = folder / "kestrafinlist.dxb";
    make_file(path, saved_content(0));
    std::atomic<unsigned> saves{0};
    std::atomic<bool> ended{false};
    std::thread reports([&] {
        SavingChild child(path);
        for (char report = child.next_report(); report != 0 && saves < 30;
             report = child.next_report())
            if (report == 's') ++saves;
        ended = true;
    });
    unsigned looks = 0, missing = 0;
    while (!ended) {
        ++looks;
        if (!kestrafin::platform::file_exists(path)) ++missing;
    }
    reports.join();
    EXPECT_EQ(saves, 30u) << "the saving child stopped";
    EXPECT_EQ(missing, 0u) << "of " << looks << " looks";
}
