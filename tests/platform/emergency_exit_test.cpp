#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/linux/signal_guard.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::testing;

TEST(EndProgramAtOnce, LeavesNoTemporaryFileOfAnUnfinishedSaveBehind) {
    TempFolder folder;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int descriptor = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY);
        kestrafin::platform::linux_host::TemporaryName name;
        const int made = name.claim(descriptor, [&](const char* temporary) {
            return ::openat(descriptor, temporary, O_WRONLY | O_CREAT | O_EXCL, 0600);
        });
        if (made < 0) ::_exit(1);
        kestrafin::platform::end_program_at_once(7);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 7);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}
