// The volume reader on images that mkntfs makes and ntfs-3g fills: each
// folder as ntfs-3g's readdir lists it through the mount, the collation
// order against a walk of each index's tree, and damaged copies.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/volume/memory_source.h"
#include "volume/boot_sector.h"
#include "volume/le_bytes.h"
#include "volume/ntfs_volume.h"
#include "volume/volume_tree.h"

namespace kestrafin::volume {
namespace {

namespace fs = std::filesystem;
using kestrafin::testing::MemorySource;
using Listings = std::map<std::string, std::vector<std::string>>;  // folder path -> readdir

std::vector<std::byte> g_image;
Listings g_readdir;
std::string g_skip;

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

void read_mount(const fs::path& mount, const std::string& relative) {
    std::vector<std::string>& names = g_readdir[relative];
    DIR* dir = opendir((mount / relative).c_str());
    if (dir == nullptr) return;
    std::vector<std::string> folders;
    while (dirent* d = readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        names.push_back(name);
        struct stat st;
        if (lstat((mount / relative / name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            folders.push_back(relative.empty() ? name : relative + "/" + name);
    }
    closedir(dir);
    for (const std::string& folder : folders) read_mount(mount, folder);
}

void touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

void fill(const fs::path& m) {
    fs::create_directories(m / "big");
    for (int i = 0; i < 3000; ++i)
        touch(m / "big" / ("entry " + std::to_string(i * 7919 % 3001) + ".txt"));
    fs::create_directories(m / "case");
    for (const char* name : {"Clash", "clash", "CLASH", "b", "A", "_", "a~1"})
        touch(m / "case" / name);
    fs::create_directories(m / "links");
    touch(m / "links" / "target");
    for (int i = 0; i < 40; ++i)
        fs::create_hard_link(m / "links" / "target", m / "links" / ("link " + std::to_string(i)));
    fs::create_directories(m / "dos");
    touch(m / "dos" / "A long file name.text");
    setxattr((m / "dos" / "A long file name.text").c_str(), "system.ntfs_dos_name", "ALONGF~1.TEX",
             12, 0);
    fs::create_directories(m / "deleted");
    for (int i = 0; i < 200; ++i) touch(m / "deleted" / ("f" + std::to_string(i)));
    for (int i = 0; i < 200; i += 2) fs::remove(m / "deleted" / ("f" + std::to_string(i)));
    fs::path deep = m / "unicode";
    for (const char* name : {"Ünïcødé", "日本語の名前", "\xF0\x9F\x98\x80 smile", "ß", "ǅ"}) {
        deep /= name;
        fs::create_directories(deep);
        touch(deep / "file");
    }
}

class NtfsImage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0)
            g_skip = "mounting an ntfs-3g image needs root and /dev/fuse";
        else if (access("/usr/sbin/mkntfs", X_OK) != 0 || access("/usr/bin/ntfs-3g", X_OK) != 0)
            g_skip = "mkntfs and ntfs-3g (Debian's ntfs-3g) are not installed";
        if (!g_skip.empty()) return;
        char scratch[] = "/tmp/kestrafin-ntfs-XXXXXX";
        fs::path dir = mkdtemp(scratch);
        fs::path image = dir / "volume.img", mount = dir / "mount";
        fs::create_directories(mount);
        fs::resize_file((std::ofstream(image), image), 64 << 20);
        if (run("/usr/sbin/mkntfs -F -q -Q " + image.string()) != 0 ||
            run("/usr/bin/ntfs-3g " + image.string() + " " + mount.string()) != 0) {
            g_skip = "mkntfs or the ntfs-3g mount failed";
        } else {
            try {
                fill(mount);
                read_mount(mount, "");
            } catch (const std::exception& e) {
                g_skip = std::string("filling the image failed: ") + e.what();
            }
            run("/usr/bin/fusermount -u " + mount.string());
        }
        std::ifstream in(image, std::ios::binary);
        g_image.resize(fs::file_size(image));
        in.read(reinterpret_cast<char*>(g_image.data()),
                static_cast<std::streamsize>(g_image.size()));
        fs::remove_all(dir);
    }
    void SetUp() override {
        if (!g_skip.empty()) GTEST_SKIP() << g_skip;
    }
};

std::optional<RecordNumber> folder_at(const VolumeTree& tree, const std::string& path) {
    RecordNumber at = kRootFolder;
    for (const auto& part : fs::path(path)) {
        auto found = tree.find(at, platform::utf16_from_utf8(part.string()));
        if (!found) return std::nullopt;
        at = found->record;
    }
    return at;
}

std::vector<std::string> names_of(const std::vector<VolumeEntry>& entries) {
    std::vector<std::string> names;
    for (const VolumeEntry& e : entries) names.push_back(platform::utf8_from_utf16(e.name));
    return names;
}

TEST_F(NtfsImage, BlockOrderListsEveryFolderAsTheMountsReaddir) {
    MemorySource source(g_image);
    VolumeReadResult read = read_ntfs_volume(source, ListingOrder::index_blocks);
    ASSERT_TRUE(read.tree) << read.error;
    ASSERT_GT(g_readdir.size(), 10u);
    std::vector<VolumeEntry> entries;
    for (const auto& [path, names] : g_readdir) {
        auto folder = folder_at(*read.tree, path);
        ASSERT_TRUE(folder) << path;
        EXPECT_FALSE(read.tree->list(*folder, entries)) << path;
        EXPECT_EQ(names_of(entries), names) << path;
    }
    EXPECT_TRUE(read.tree->unplaced_damage().empty());
    EXPECT_EQ(read.tree->figures().damaged_records, 0u);
}

TEST_F(NtfsImage, CollationOrderIsTheWalkOfEachIndexTree) {
    MemorySource source(g_image);
    VolumeReadResult sorted = read_ntfs_volume(source, ListingOrder::collation);
    VolumeReadResult walked = read_ntfs_volume_in_tree_order(source);
    ASSERT_TRUE(sorted.tree) << sorted.error;
    ASSERT_TRUE(walked.tree) << walked.error;
    std::vector<VolumeEntry> a, b;
    for (const auto& [path, names] : g_readdir) {
        auto folder = folder_at(*walked.tree, path);
        ASSERT_TRUE(folder) << path;
        EXPECT_FALSE(sorted.tree->list(*folder, a));
        EXPECT_FALSE(walked.tree->list(*folder, b));
        EXPECT_EQ(names_of(a), names_of(b)) << path;
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
            EXPECT_EQ(a[i].record, b[i].record) << path << " " << i;
    }
}

TEST_F(NtfsImage, HardLinksBehindAnAttributeListAndCaseFoundAsEachHostFinds) {
    MemorySource source(g_image);
    VolumeReadResult sorted = read_ntfs_volume(source, ListingOrder::collation);
    VolumeReadResult blocks = read_ntfs_volume(source, ListingOrder::index_blocks);
    ASSERT_TRUE(sorted.tree && blocks.tree);
    std::vector<VolumeEntry> links;
    sorted.tree->list(*folder_at(*sorted.tree, "links"), links);
    ASSERT_EQ(links.size(), 41u);
    for (const VolumeEntry& e : links) EXPECT_EQ(e.record, links[0].record);
    // "UNICODE" names the folder "unicode" on Windows only.
    EXPECT_TRUE(sorted.tree->find(kRootFolder, u"UNICODE"));
    EXPECT_FALSE(blocks.tree->find(kRootFolder, u"UNICODE"));
    EXPECT_FALSE(sorted.tree->find(kRootFolder, u"unicod"));
}

// Offsets of a fresh image's structures, whose table starts unfragmented.
struct Layout {
    std::uint64_t table = 0;
    std::uint32_t record = 0;
};
Layout layout() {
    std::string error;
    auto boot = read_boot_sector(std::span(g_image).first(kBootSectorSize), error);
    return {boot->table_cluster * boot->cluster_size, boot->record_size};
}

// The first record whose $FILE_NAME is `name`, and that attribute's offset.
std::pair<RecordNumber, std::size_t> record_named(const std::u16string& name) {
    Layout at = layout();
    std::string raw;
    for (char16_t c : name) raw += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    for (RecordNumber n = 16; n < 4096; ++n) {
        const char* record =
            reinterpret_cast<const char*>(g_image.data() + at.table + n * at.record);
        std::string_view bytes(record, at.record);
        if (std::size_t hit = bytes.find(raw); hit != bytes.npos && hit > 0x42)
            return {n, hit - 0x42};
    }
    return {0, 0};
}

TEST_F(NtfsImage, DamagedCopiesAreRefusedOrReportedCleanly) {
    Layout at = layout();
    auto [big, big_name] = record_named(u"big");
    auto [deleted, deleted_name] = record_named(u"deleted");
    ASSERT_NE(big, 0u);
    ASSERT_NE(deleted, 0u);
    struct Case {
        const char* what;
        std::function<void(std::vector<std::byte>&)> damage;
        const char* refused;   // part of the error, or null when read
        const char* reported;  // part of a damage message, or null
    } cases[] = {
        {"the boot sector's signature", [](auto& b) { b[3] = std::byte{'X'}; },
         "not an NTFS volume", nullptr},
        {"a cluster size of 0", [](auto& b) { b[0x0D] = std::byte{0}; }, "cluster", nullptr},
        {"the table's first run past the end",
         [&](auto& b) {
             std::size_t attr = at.table + le16(b.data() + at.table + 0x14);
             while (le32(b.data() + attr) != 0x80) attr += le32(b.data() + attr + 4);
             std::size_t runs = attr + le16(b.data() + attr + 0x20);
             b[runs] = std::byte{0x41};  // 4-byte offset: its high byte sends it off the volume
             b[runs + 2] = std::byte{0xFF}, b[runs + 3] = std::byte{0xFF},
                      b[runs + 4] = std::byte{0xFF}, b[runs + 5] = std::byte{0x7F},
                      b[runs + 6] = std::byte{0};
         },
         "past the volume's end", nullptr},
        {"a torn folder record",
         [&](auto& b) { b[at.table + big * at.record + 510] ^= std::byte{1}; }, nullptr, "is torn"},
        {"a parent loop",
         [&](auto& b) {
             // "big" names "deleted" as its parent, and "deleted" names "big".
             std::size_t name = at.table + big * at.record + big_name;
             std::memcpy(b.data() + name, b.data() + at.table + deleted * at.record + 0x2C, 4);
             std::size_t other = at.table + deleted * at.record + deleted_name;
             std::memcpy(b.data() + other, b.data() + at.table + big * at.record + 0x2C, 4);
             b[name + 6] = b[at.table + deleted * at.record + 0x10];
             b[name + 7] = b[at.table + deleted * at.record + 0x11];
             b[other + 6] = b[at.table + big * at.record + 0x10];
             b[other + 7] = b[at.table + big * at.record + 0x11];
         },
         nullptr, "in a loop"},
    };
    for (const Case& c : cases) {
        MemorySource source(g_image);
        c.damage(source.bytes);
        for (ListingOrder order : {ListingOrder::collation, ListingOrder::index_blocks}) {
            VolumeReadResult read = read_ntfs_volume(source, order);
            if (c.refused) {
                EXPECT_FALSE(read.tree) << c.what;
                EXPECT_NE(read.error.find(c.refused), std::string::npos)
                    << c.what << ": " << read.error;
                continue;
            }
            ASSERT_TRUE(read.tree) << c.what << ": " << read.error;
            std::string messages;
            for (const FolderDamage& d : read.tree->unplaced_damage()) messages += d.message + "\n";
            std::vector<VolumeEntry> root;
            if (auto d = read.tree->list(kRootFolder, root)) messages += d->message;
            EXPECT_NE(messages.find(c.reported), std::string::npos) << c.what << ": " << messages;
        }
    }
}

}  // namespace
}  // namespace kestrafin::volume
