#include "platform/process.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "tests/support/temp_tree.h"

using kestrafin::platform::open_address;
using namespace kestrafin::testing;

namespace {

// Puts `folder` in front of PATH while alive.
struct PathPrefix {
    std::string old = std::getenv("PATH") ? std::getenv("PATH") : "";
    explicit PathPrefix(const std::string& folder) {
        setenv("PATH", (folder + ":" + old).c_str(), 1);
    }
    ~PathPrefix() { setenv("PATH", old.c_str(), 1); }
};

// Waits up to five seconds for a detached program to leave its file.
std::string wait_for(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        const std::string content = read_bytes(path);
        if (!content.empty()) return content;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

// A program `name` on PATH that records its first two arguments.
struct RecordingProgram {
    TempFolder folder;
    PathPrefix path{folder.path()};
    explicit RecordingProgram(const std::string& name) {
        make_file(folder / name,
                  "#!/bin/sh\necho \"$1|$2\" > \"$(dirname \"$0\")/ran.tmp\"\n"
                  "mv \"$(dirname \"$0\")/ran.tmp\" \"$(dirname \"$0\")/ran\"\n");
        chmod((folder / name).c_str(), 0755);
    }
    std::string arguments() const { return wait_for(folder / "ran"); }
};

}  // namespace

TEST(OpenAddress, TheDesktopsOpenerOpensIt) {
    RecordingProgram opener("xdg-open");
    open_address("http://kestrafin.example/");
    EXPECT_EQ(opener.arguments(), "http://kestrafin.example/|\n");
}

TEST(OpenAddress, AnOpenerThatCannotBeStartedIsAnError) {
    TempFolder empty;
    const std::string old = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", empty.path().c_str(), 1);
    try {
        open_address("http://kestrafin.example/");
        ADD_FAILURE() << "no error";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
        EXPECT_NE(std::string(error.what()).find("xdg-open"), std::string::npos);
    }
    setenv("PATH", old.c_str(), 1);
}

TEST(ShowInFileManager, TheSessionsFileManagerIsAskedToSelectTheFile) {
    TempFolder folder;
    PathPrefix path{folder.path()};
    // Waited for: its reply tells whether a file manager took the request.
    make_file(folder / "dbus-send", "#!/bin/sh\necho \"$6|$7|$8\" > \"$(dirname \"$0\")/ran\"\n");
    chmod((folder / "dbus-send").c_str(), 0755);
    RecordingProgram opener("xdg-open");
    kestrafin::platform::show_in_file_manager("/data/a,b/new\nline.txt");
    EXPECT_EQ(read_bytes(folder / "ran"),
              "org.freedesktop.FileManager1.ShowItems|array:string:file:///data/a%2Cb/"
              "new%0Aline.txt|string:\n");
    EXPECT_FALSE(std::filesystem::exists(opener.folder / "ran"));
}

TEST(ShowInFileManager, WithoutAFileManagerOnTheBusTheFolderOpens) {
    TempFolder folder;
    PathPrefix path{folder.path()};
    make_file(folder / "dbus-send", "#!/bin/sh\nexit 1\n");
    chmod((folder / "dbus-send").c_str(), 0755);
    RecordingProgram opener("xdg-open");
    kestrafin::platform::show_in_file_manager("/data/deep folder/report.pdf");
    EXPECT_EQ(opener.arguments(), "/data/deep folder|\n");
}
