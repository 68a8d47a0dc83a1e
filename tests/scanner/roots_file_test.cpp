// The roots file as each host stores text.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "scanner/root_runs.h"
#ifdef _WIN32
#include "platform/windows/system.h"
#else
#include <sys/stat.h>
#endif

namespace {

struct RootsFile {
    explicit RootsFile(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    ~RootsFile() { std::filesystem::remove(path); }
    std::vector<std::string> roots() const {
        const std::u8string name = path.u8string();
        return kestrafin::scanner::read_roots_file(std::string(name.begin(), name.end()));
    }
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("kestrafin-roots-" + std::to_string(std::rand()) + ".txt");
};

TEST(RootsFile, AMarkAndLineEndsAreNoPartOfARoot) {
    const RootsFile file(
        "\xEF\xBB\xBF"
        "caf\xC3\xA9\r\n# caf\xC3\xA9\r\n\r\n  \r\n\t#x\nlast");
    EXPECT_EQ(file.roots(), (std::vector<std::string>{"caf\xC3\xA9", "last"}));
}

#ifndef _WIN32
TEST(RootsFile, AFifoIsReadToItsWritersEnd) {
    const std::filesystem::path fifo =
        std::filesystem::temp_directory_path() / ("kestrafin-roots-" + std::to_string(std::rand()));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The open waits for this writer, as a shell's <(...) makes one.
    std::thread writer([&] { std::ofstream(fifo) << "/srv/a\n# x\n/srv/b\n"; });
    const std::vector<std::string> roots = kestrafin::scanner::read_roots_file(fifo.string());
    writer.join();
    std::filesystem::remove(fifo);
    EXPECT_EQ(roots, (std::vector<std::string>{"/srv/a", "/srv/b"}));
}
#endif

TEST(RootsFile, ARootGivenAgainIsWalkedOnce) {
    std::vector<std::string> repeated;
    EXPECT_EQ(kestrafin::scanner::distinct_roots({"a", "b", "a", "a/", "b"}, repeated),
              (std::vector<std::string>{"a", "b", "a/"}));
    EXPECT_EQ(repeated, (std::vector<std::string>{"a", "b"}));
}

#ifdef _WIN32
TEST(RootsFile, AFileThatIsNoUtf8IsReadInTheAnsiCodePage) {
    kestrafin::platform::windows::play_ansi_code_page(1252);
    const RootsFile ansi("C:\\caf\xE9\r\n\\\\fs01\\\x80\r\n");
    const RootsFile utf8("C:\\caf\xC3\xA9\r\n");
    const std::vector<std::string> ansi_roots = ansi.roots(), utf8_roots = utf8.roots();
    kestrafin::platform::windows::play_ansi_code_page(0);
    EXPECT_EQ(ansi_roots, (std::vector<std::string>{"C:\\caf\xC3\xA9", "\\\\fs01\\\xE2\x82\xAC"}));
    EXPECT_EQ(utf8_roots, (std::vector<std::string>{"C:\\caf\xC3\xA9"}));
}
#endif

}  // namespace
