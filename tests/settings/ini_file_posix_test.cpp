// The settings file against POSIX rights, size limits and special files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "settings/ini_file.h"
#include "tests/settings/ini_file_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_tree.h"

using kestrafin::settings_testing::IniFile;
using Kestrafin_Lib::readini;
using Kestrafin_Lib::writeini;
using namespace kestrafin::testing;

TEST(IniFile, AReadOnlyFileIsMadeWritableAndRewritten) {
    IniFile file("[PATH]\r\nFULLPATH=old\r\n");
    chmod(file.path.c_str(), 0444);
    EXPECT_EQ(file.read(), "old");
    struct stat info {};
    stat(file.path.c_str(), &info);
    EXPECT_NE(info.st_mode & S_IWUSR, 0u);
    chmod(file.path.c_str(), 0444);
    file.write("new");
    EXPECT_EQ(file.bytes(), "[PATH]\r\nFULLPATH=new\r\n");
}

TEST(IniFile, AFileInstalledReadOnlyForThisUserIsReadButNotWritten) {
    IniFile file("[PATH]\r\nFULLPATH=/installed\r\n");
    chmod(file.path.c_str(), 0444);
    chmod(file.folder.path().c_str(), 0555);
    {
        AsOrdinaryUser ordinary;
        ASSERT_TRUE(ordinary.was_root || geteuid() != 0);
        EXPECT_EQ(file.read(), "/installed");
        EXPECT_THROW(file.write("/new"), std::system_error);
    }
    chmod(file.folder.path().c_str(), 0700);
    EXPECT_EQ(file.bytes(), "[PATH]\r\nFULLPATH=/installed\r\n");
}

TEST(Writeini, AFailedWriteLeavesTheOldTextAndNoTemporaryFile) {
    TempFolder folder;
    const std::string path = folder / "kestrafin.ini";
    make_file(path, "[PATH]\r\nFULLPATH=old\r\n");
    // A file size limit stops the write half way, for root as for anybody.
    const ChildResult limited = in_child(false, [&]() -> std::string {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            writeini(path, "PATH", "FULLPATH", std::string(100'000, 'v'));
        } catch (const std::system_error& error) {
            return error.what();
        }
        return "no error";
    });
    EXPECT_NE(limited.report.find("settings file '" + path + "': File too large"),
              std::string::npos)
        << limited.report;
    EXPECT_EQ(read_bytes(path), "[PATH]\r\nFULLPATH=old\r\n");
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u);
    // A file that cannot even be created names its folder's problem.
    try {
        writeini(folder / "missing-folder/x.ini", "PATH", "FULLPATH", "v");
        FAIL() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
}

TEST(IniFile, ASettingsFileThatIsNoRegularFileIsRefusedWithoutBlocking) {
    TempFolder folder;
    const std::string fifo = folder / "fifo.ini", socket_path = folder / "socket.ini",
                      sub = folder / "folder.ini";
    check(mkfifo(fifo.c_str(), 0666) == 0, "mkfifo");
    make_folder(sub);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
    check(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
    // A file the kernel makes up may never end: read whole, it would take
    // all memory.
    const std::string kernel = folder / "kernel.ini";
    make_link("/proc/self/pagemap", kernel);
    for (const auto& [path, reason] : std::vector<std::pair<std::string, std::string>>{
             {fifo, "it is a FIFO"},
             {socket_path, "it is a socket"},
             {sub, "it is a folder"},
             {kernel, "it lies on a kernel file system"}}) {
        for (const bool writing : {false, true}) {
            // A blocked open would end the child by the alarm.
            const ChildResult result = in_child(false, [&]() -> std::string {
                alarm(5);
                try {
                    if (writing)
                        writeini(path, "PATH", "FULLPATH", "v");
                    else
                        readini(path, "PATH", "FULLPATH");
                } catch (const std::system_error& error) {
                    return error.what();
                }
                return "no error";
            });
            EXPECT_TRUE(WIFEXITED(result.status)) << path << " blocked";
            EXPECT_NE(result.report.find("settings file '" + path + "': " + reason +
                                         ", not a regular file"),
                      std::string::npos)
                << result.report;
        }
    }
    close(listener);
    struct stat info {};
    EXPECT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode)) << "left as it was";
}
