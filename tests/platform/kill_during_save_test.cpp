// A program killed at any point of a save leaves the saved file whole, the
// old content or the new, and never leaves the name missing: a child saves in
// a loop and reports each piece it hands the writer; the test kills it after
// a report it picks at random, while a reader looks for the file as often as
// it can (where a replacement takes several steps, it meets the gap).
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
#include <sys/wait.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

using namespace kestrafin::testing;
using kestrafin::platform::file_exists;
using kestrafin::platform::read_file;

namespace {

// Runs the saving child on `path` and kills it without warning once it has
// sent `reports` reports; false when it stopped reporting first.
bool save_until_killed(const std::string& path, unsigned reports) {
    const std::string program = kestrafin::platform::program_file(
        kestrafin::platform::program_folder(),
        kPosixHost ? "kestrafin_saving_child" : "kestrafin_saving_child.exe");
    unsigned got = 0;
    char mark = 0;
#if KESTRAFIN_TEST_POSIX_HOST
    int ends[2];
    if (pipe(ends) != 0) return false;
    const pid_t child = fork();
    if (child == 0) {
        dup2(ends[1], 1);
        execl(program.c_str(), program.c_str(), path.c_str(), nullptr);
        _exit(127);
    }
    close(ends[1]);
    while (got < reports && read(ends[0], &mark, 1) == 1) ++got;
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ends[0]);
#else
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE reading = nullptr, writing = nullptr;
    if (!::CreatePipe(&reading, &writing, &inherited, 0)) return false;
    ::SetHandleInformation(reading, HANDLE_FLAG_INHERIT, 0);
    std::wstring command =
        L"\"" + as_path(program).wstring() + L"\" \"" + as_path(path).wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writing;
    PROCESS_INFORMATION process{};
    const bool started =
        ::CreateProcessW(as_path(program).c_str(), command.data(), nullptr, nullptr, TRUE,
                         CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    ::CloseHandle(writing);
    DWORD read = 0;
    while (started && got < reports && ::ReadFile(reading, &mark, 1, &read, nullptr) && read == 1)
        ++got;
    if (started) {
        ::TerminateProcess(process.hProcess, 9);
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(reading);
#endif
    return got == reports;
}

}  // namespace

TEST(KillDuringSave, LeavesTheOldOrTheNewFileWholeAndNeverNone) {
    TempFolder folder;
    const std::string path = folder / "kestrafinlist.dxb";
    make_file(path, saved_content(0));
    std::atomic<bool> saving{true};
    unsigned looks = 0, missing = 0;
    std::thread reader([&] {
        for (; saving; ++looks) missing += file_exists(path) ? 0 : 1;
    });
    // A save sends a report for each piece and one when it is done, 5 to 17
    // in all: a kill lands anywhere in the first few saves.
    std::mt19937 random(20261209);
    std::uniform_int_distribution<unsigned> reports(1, 60);
    for (int round = 0; round < 24; ++round) {
        const unsigned after = reports(random);
        ASSERT_TRUE(save_until_killed(path, after)) << "the saving child stopped";
        ASSERT_TRUE(file_exists(path)) << "no saved file after a kill past report " << after;
        EXPECT_TRUE(whole_save(read_file(path, "saved list")))
            << "a cut file after a kill past report " << after;
        // Only a complete temporary file may outlive a kill, in the instant
        // before it takes the saved file's name.
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            const std::string name = entry.path().filename().string();
            if (name == "kestrafinlist.dxb") continue;
            EXPECT_TRUE(whole_save(read_file(folder / name, "left over")))
                << name << " left behind, cut, after a kill past report " << after;
        }
    }
    saving = false;
    reader.join();
    EXPECT_EQ(missing, 0u) << "of " << looks << " looks while the child saved";
}
