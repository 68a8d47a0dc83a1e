#include "scanner/volume_source.h"

#include <gtest/gtest.h>

#include "scanner/scan_options.h"
#include "tests/support/fake_volume_tree.h"

using namespace kestrafin;
using kestrafin::testing::FakeVolumeTree;
using kestrafin::testing::kSymbolicLinkTag;
using scanner::SourceChoice;
using scanner::VolumeChoice;
using scanner::VolumeSources;
using volume::RecordNumber;

namespace {

// The paths of the folders a source tells as entered.
struct Entered : search::WalkHooks {
    std::vector<std::string> folders;
    void folder_listed(std::string_view directory, const search::FolderNames&) override {
        folders.emplace_back(directory);
    }
};

}  // namespace

TEST(VolumeSource, EachRootReadsTheVolumeOrWalksOrIsRefusedWithTheReason) {
    auto tree = std::make_shared<FakeVolumeTree>();
    const RecordNumber users = tree->add(volume::kRootFolder, "Users", true);
    tree->add(users, "me", true);
    tree->add(users, "link", true, kSymbolicLinkTag);
    tree->add(users, "file", false);
    const std::string volume_root = "/mnt/d";
    const struct Case {
        SourceChoice source;
        const char* volume;
        bool with_volume_root;
        std::string root;
        const char* outcome;  // "read", "walked: ..." or the refusal's words
    } cases[] = {
        {SourceChoice::volume, "disk.img", false, "/Users/me", "read"},
        {SourceChoice::volume, "disk.img", true, "/mnt/d/Users/me", "read"},
        {SourceChoice::volume, "disk.img", true, "/mnt/d", "read"},
        {SourceChoice::volume, "disk.img", true, "/mnt/data/Users", "does not lie below"},
        {SourceChoice::automatic, "disk.img", true, "/mnt/data/Users", "walked: the root does not"},
        {SourceChoice::volume, "disk.img", false, "/Users/link/x", "is a link"},
        {SourceChoice::automatic, "disk.img", false, "/Users/link/x", "walked: "},
        {SourceChoice::volume, "disk.img", false, "/Users/nobody", "no folder"},
        {SourceChoice::volume, "disk.img", false, "/Users/file", "is not a folder"},
        {SourceChoice::volume, "disk.img", false, "//Users//me/", "read"},
        {SourceChoice::volume, "disk.img", false, "/Users/./me/../me", "read"},
        {SourceChoice::volume, "disk.img", true, "/mnt/d/Users/../..", "leads out of the volume"},
        {SourceChoice::volume, "torn.img", false, "/Users", "torn.img: the boot sector is torn"},
        {SourceChoice::automatic, "torn.img", false, "/Users", "walked: torn.img: the boot"},
    };
    for (const Case& one : cases) {
        std::size_t reads = 0;
        VolumeSources sources(
            VolumeChoice{one.source, one.volume,
                         one.with_volume_root ? std::optional(volume_root) : std::nullopt},
            [&](const std::string& source) -> VolumeSources::Read {
                ++reads;
                if (source == "torn.img") return {nullptr, "torn.img: the boot sector is torn"};
                return {tree, {}};
            });
        const scanner::RootSource chosen = sources.choose(one.root);
        const std::string outcome = !chosen.refused.empty() ? chosen.refused
                                    : chosen.play           ? "read"
                                                            : chosen.why;
        EXPECT_NE(outcome.find(one.outcome), std::string::npos)
            << one.root << ": " << outcome << " against " << one.outcome;
        if (chosen.play) {
            // Every root of one volume reads it once; paths are the root's.
            EXPECT_TRUE(sources.choose(one.root).play);
            EXPECT_EQ(reads, 1u);
            Entered entered;
            chosen.play(entered, {.longer_than = 0, .threads = 1});
            ASSERT_FALSE(entered.folders.empty());
            EXPECT_EQ(entered.folders.front(), one.root);
            EXPECT_EQ(chosen.volume, one.volume);
        }
    }
}

// What the command line implies of the source and of the root.
TEST(VolumeSource, AVolumeImpliesItsSourceAndItsRoot) {
    const std::string volume_root(1, platform::kPathSeparator);
    const struct Case {
        std::vector<std::string> arguments;
        SourceChoice source;
        std::string root;
    } cases[] = {
        {{}, SourceChoice::walk, std::string(platform::kDefaultRoot)},
        {{"--source=auto", "x"}, SourceChoice::automatic, "x"},
        {{"--volume", "disk.img"}, SourceChoice::volume, volume_root},
        {{"--volume=disk.img", "--source", "auto", "--volume-root", "/m", "/m/a"},
         SourceChoice::automatic,
         "/m/a"},
    };
    for (const Case& one : cases) {
        const scanner::ScanOptions options = scanner::parse_scan_options(one.arguments);
        EXPECT_EQ(options.volume.source, one.source) << one.root;
        EXPECT_EQ(options.request.root, one.root);
    }
}
