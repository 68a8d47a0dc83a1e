// Raw volumes on Linux: reading an image file, and which mount, if any, is
// the NTFS volume a folder lies on (a real ntfs-3g mount where the machine
// can make one).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/raw_volume.h"
#include "platform/raw_volume.h"
#include "tests/support/temp_tree_posix.h"

using namespace kestrafin::platform;
using kestrafin::testing::make_folder;
using kestrafin::testing::make_link;
using kestrafin::testing::TempFolder;

TEST(RawVolumePosix, ReadsAnyRangeOfAnImageAndRefusesWhatLiesPastItsEnd) {
    TempFolder folder;
    std::string bytes(10000, '\0');
    for (std::size_t at = 0; at < bytes.size(); ++at) bytes[at] = static_cast<char>(at * 7 % 251);
    kestrafin::testing::make_file(folder.path() + "/image", bytes);
    std::error_code error;
    auto volume = RawVolume::open(folder.path() + "/image", error);
    ASSERT_NE(volume, nullptr) << error.message();
    EXPECT_EQ(volume->size(), 10000u);
    const struct {
        std::uint64_t offset;
        std::size_t size;
        int result;
    } rows[] = {{0, 512, 0},       {511, 3, 0},     {9999, 1, 0},    {9000, 1000, 0},
                {9001, 1000, EIO}, {10000, 1, EIO}, {~0ull, 2, EIO}, {10000, 0, 0}};
    for (const auto& row : rows) {
        std::vector<std::byte> out(row.size, std::byte{0xEE});
        EXPECT_EQ(volume->read(row.offset, out), row.result) << row.offset << "+" << row.size;
        if (row.result == 0 && row.size > 0) {
            EXPECT_EQ(static_cast<char>(out.back()), bytes[row.offset + row.size - 1]);
        }
    }

    const std::string fifo = folder.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& refused :
         {folder.path(), folder.path() + "/none", std::string("/dev/null"), fifo}) {
        EXPECT_EQ(RawVolume::open(refused, error), nullptr) << refused;
        EXPECT_TRUE(error) << refused;
    }
}

TEST(RawVolumePosix, AFolderLiesOnTheMountOfTheLongestPointHoldingIt) {
    const std::string table =
        "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "30 21 0:40 / /mnt/d rw shared:5 - fuseblk /dev/sdb1 rw,user_id=0\n"
        "31 21 0:41 / /mnt/d\\040e rw - fuse /srv/disk\\040one.img rw\n"
        "32 21 0:42 /Users /home/u rw - ntfs3 /dev/sdc1 rw\n"
        "33 21 0:43 / /mnt/d rw - nfs4 fs01:/export rw\n"
        "34 21 0:44 / /net rw - cifs //fs01/share rw\n"
        "malformed line\n";
    const struct {
        const char* path;
        const char* point;
        const char* type;
        const char* source;
        const char* root;
    } rows[] = {
        {"/", "/", "ext4", "/dev/sda1", "/"},
        {"/mnt/dx", "/", "ext4", "/dev/sda1", "/"},
        {"/mnt/d/x", "/mnt/d", "nfs4", "fs01:/export", "/"},  // mounted over the first
        {"/mnt/d e/y", "/mnt/d e", "fuse", "/srv/disk one.img", "/"},
        {"/home/u/Docs", "/home/u", "ntfs3", "/dev/sdc1", "/Users"},
        {"/net", "/net", "cifs", "//fs01/share", "/"},
    };
    for (const auto& row : rows) {
        const auto mount = linux_host::mount_holding(table, row.path);
        ASSERT_TRUE(mount) << row.path;
        EXPECT_EQ(mount->point, row.point) << row.path;
        EXPECT_EQ(mount->type, row.type) << row.path;
        EXPECT_EQ(mount->source, row.source) << row.path;
        EXPECT_EQ(mount->root, row.root) << row.path;
    }
    EXPECT_FALSE(linux_host::mount_holding("", "/x"));
}

// An ntfs-3g mount of a fresh image; unmounted however the test ends.
class NtfsMount : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0 ||
            std::system("command -v ntfs-3g >/dev/null && "
                        "PATH=$PATH:/usr/sbin:/sbin command -v mkntfs >/dev/null") != 0)
            GTEST_SKIP() << "an ntfs-3g mount needs root, /dev/fuse, ntfs-3g and mkntfs";
        image_ = folder_.path() + "/disk.img";
        point_ = folder_.path() + "/mount";
        make_folder(point_);
        const std::string make = "truncate -s 16M " + image_ + " && PATH=$PATH:/usr/sbin:/sbin " +
                                 "mkntfs -F -Q -q " + image_ + " >/dev/null 2>&1 && ntfs-3g " +
                                 image_ + " " + point_;
        ASSERT_EQ(std::system(make.c_str()), 0) << make;
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) {
            EXPECT_EQ(umount2(point_.c_str(), MNT_DETACH), 0);
        }
    }
    TempFolder folder_;
    std::string image_, point_;
    bool mounted_ = false;
};

TEST_F(NtfsMount, AFolderOnItIsFoundWithTheNamesBelowTheMountAsTheRootSpellsThem) {
    make_folder(point_ + "/Users");
    make_folder(point_ + "/Users/ann");
    make_link(point_, folder_.path() + "/via");
    const struct {
        std::string root, point;
        std::vector<std::string> names;
    } rows[] = {
        {point_, point_, {}},
        {point_ + "/Users//ann/", point_, {"Users", "ann"}},
        {folder_.path() + "/via/Users", folder_.path() + "/via", {"Users"}},
    };
    for (const auto& row : rows) {
        std::string why_not;
        const auto found = ntfs_volume_of(row.root, why_not);
        ASSERT_TRUE(found) << row.root << ": " << why_not;
        EXPECT_EQ(found->source, image_);
        EXPECT_EQ(found->mount_point, row.point) << row.root;
        EXPECT_EQ(found->names_below, row.names) << row.root;
    }

    std::string why_not;
    EXPECT_FALSE(ntfs_volume_of(point_ + "/Users/../Users", why_not));
    EXPECT_NE(why_not.find("\"..\""), std::string::npos) << why_not;
    EXPECT_FALSE(ntfs_volume_of(folder_.path(), why_not));
    EXPECT_NE(why_not.find(", not NTFS"), std::string::npos) << why_not;
    EXPECT_FALSE(ntfs_volume_of(point_ + "/none", why_not));
    EXPECT_NE(why_not.find("cannot be reached"), std::string::npos) << why_not;
}
