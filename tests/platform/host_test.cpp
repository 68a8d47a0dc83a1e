// What the host tells of itself, and the scratch file, on every host.
#include <gtest/gtest.h>

#include <string>

#include "platform/host.h"
#include "platform/scratch_file.h"

using namespace kestrafin::platform;

TEST(Host, NamesTheMachineAndTheAccountAndGivesRandomBytes) {
    EXPECT_FALSE(host_name().empty());
    EXPECT_FALSE(user_name().empty());
    unsigned char first[16] = {}, second[16] = {};
    random_bytes(first, sizeof first);
    random_bytes(second, sizeof second);
    EXPECT_NE(std::string(first, first + 16), std::string(second, second + 16));
}

TEST(ScratchFile, GivesBackWhatWasAppendedInPiecesOfAnySize) {
    ScratchFile file;
    std::string written;
    for (std::size_t size : {0u, 1u, 70000u, 3u, 200000u}) {
        const std::string piece(size, static_cast<char>('a' + size % 26));
        file.append(piece);
        written += piece;
    }
    std::string read;
    char block[4096];
    for (std::size_t got; (got = file.read(block, sizeof block)) > 0;) read.append(block, got);
    EXPECT_EQ(read.size(), written.size());
    EXPECT_TRUE(read == written);
    file.append("more");
    EXPECT_EQ(file.read(block, sizeof block), 4u);
    EXPECT_EQ(std::string(block, 4), "more");
}

#ifdef _WIN32
TEST(Host, AVolumeIsTheServerOfAUncPathOrElseTheDrive) {
    struct Case {
        const char* folder;
        const char* volume;
    };
    const Case cases[] = {
        {"\\\\fs01\\hr\\2026", "\\\\FS01"},
        {"\\\\Fs01\\finance", "\\\\FS01"},
        {"\\\\?\\UNC\\fs02\\hr", "\\\\FS02"},
        {"c:\\users", "C:"},
        {"\\\\?\\D:\\data", "D:"},
        {"Z:/tmp/x", "Z:"},
    };
    for (const Case& test : cases) EXPECT_EQ(volume_of(test.folder), test.volume) << test.folder;
}
#endif
