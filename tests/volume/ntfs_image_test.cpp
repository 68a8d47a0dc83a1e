// The volume reader on images that mkntfs makes and ntfs-3g fills: each
// folder as ntfs-3g's readdir lists it through the mount, the collation
// order against a walk of each index's tree, and damaged copies.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// An image, and each folder's readdir (by path) through its mount.
struct Image {
    std::vector<std::byte> bytes;
    std::map<std::string, std::vector<std::string>> readdir;
    std::map<std::string, std::vector<std::uint32_t>> attributes, tags;  // as ntfs-3g gives them
};
Image g_image;                                 // of every shape
std::map<std::string, std::string> g_damaged;  // kind -> copy of the image
std::string g_skip;

std::vector<std::byte> read_image(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::byte> bytes(fs::file_size(path));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Lists each folder below `fd` by readdir, through handles: the deepest
// paths are longer than Linux lets a path be.
void read_mount(Image& image, int fd, const std::string& relative) {
    DIR* dir = fdopendir(fd);
    std::vector<std::string>& names = image.readdir[relative];
    std::vector<std::uint32_t>& attributes = image.attributes[relative];
    std::vector<std::uint32_t>& tags = image.tags[relative];
    std::vector<std::string> folders;
    while (dirent* d = readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        names.push_back(name);
        // Links too: through the folder's handle, without following them.
        std::string path = "/proc/self/fd/" + std::to_string(fd) + "/" + name;
        std::uint32_t attribute = ~0u, tag = 0;
        lgetxattr(path.c_str(), "system.ntfs_attrib", &attribute, 4);
        char data[16384];
        if (lgetxattr(path.c_str(), "system.ntfs_reparse_data", data, sizeof data) >= 4)
            std::memcpy(&tag, data, 4);
        attributes.push_back(attribute);
        tags.push_back(tag);
        struct stat st;
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
            folders.push_back(name);
    }
    for (const std::string& folder : folders)
        read_mount(image, openat(fd, folder.c_str(), O_RDONLY | O_DIRECTORY),
                   relative.empty() ? folder : relative + "/" + folder);
    closedir(dir);
}

// The image at `path`, with its folders as a read-only ntfs-3g mount lists them.
std::optional<Image> mounted(const fs::path& path) {
    Image image;
    image.bytes = read_image(path);
    fs::path mount = path.string() + ".mount";
    fs::create_directories(mount);
    if (std::system(("/usr/bin/ntfs-3g -o ro " + path.string() + " " + mount.string()).c_str()))
        return std::nullopt;
    read_mount(image, open(mount.c_str(), O_RDONLY | O_DIRECTORY), "");
    std::system(("/usr/bin/fusermount -u " + mount.string()).c_str());
    return image;
}

class NtfsImage : public ::testing::Test {
  protected:
    // One image of every shape tools/ntfs_image.py makes, its damaged
    // copies, and each folder's readdir through a read-only mount.
    static void SetUpTestSuite() {
        char scratch[] = "/tmp/kestrafin-volume-XXXXXX";
        fs::path dir = mkdtemp(scratch);
        std::string tool = std::string(KESTRAFIN_PYTHON) + " " + KESTRAFIN_IMAGE_TOOL + " --out " +
                           dir.string() + " --together";
        for (const char* kind : kDamageKinds) tool += std::string(" --damage ") + kind;
        int status = std::system(
            (tool + " >" + (dir / "made.json").string() + " 2>" + (dir / "why").string()).c_str());
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
            std::ifstream why(dir / "why");
            std::getline(why, g_skip);
        } else if (status != 0) {
            g_skip = "tools/ntfs_image.py failed";
        } else {
            for (const char* kind : kDamageKinds)
                g_damaged[kind] = (dir / ("all." + std::string(kind) + ".img")).string();
            if (auto all = mounted(dir / "all.img"))
                g_image = std::move(*all);
            else
                g_skip = "mounting the image failed";
        }
        if (!g_skip.empty())
            fs::remove_all(dir);
        else
            g_scratch = dir;
    }
    static void TearDownTestSuite() {
        if (!g_scratch.empty()) fs::remove_all(g_scratch);
    }
    void SetUp() override {
        if (!g_skip.empty()) GTEST_SKIP() << g_skip;
    }
    static constexpr const char* kDamageKinds[] = {
        "torn-fixup", "mft-past-end", "parent-loop", "attribute-list-loop", "truncated", "random"};
    static inline fs::path g_scratch;
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
    const Image& image = g_image;
    MemorySource source(image.bytes);
    VolumeReadResult read = read_ntfs_volume(source, ListingOrder::index_blocks);
    ASSERT_TRUE(read.tree) << read.error;
    ASSERT_GT(image.readdir.size(), 2u);
    std::vector<VolumeEntry> entries;
    for (const auto& [path, names] : image.readdir) {
        auto folder = folder_at(*read.tree, path);
        ASSERT_TRUE(folder) << path;
        EXPECT_FALSE(read.tree->list(*folder, entries)) << path;
        EXPECT_EQ(names_of(entries), names) << path;
        // ntfs-3g shows a folder's standard attributes with the folder bit.
        for (std::size_t i = 0; i < std::min(entries.size(), names.size()); ++i) {
            EXPECT_EQ(entries[i].attributes | (entries[i].folder ? 0x10 : 0),
                      image.attributes.at(path)[i])
                << path << "/" << names[i];
            EXPECT_EQ(entries[i].reparse_tag, image.tags.at(path)[i]) << path << "/" << names[i];
        }
    }
    EXPECT_TRUE(read.tree->unplaced_damage().empty());
    EXPECT_EQ(read.tree->figures().damaged_records, 0u);
}

TEST_F(NtfsImage, CollationOrderIsTheWalkOfEachIndexTree) {
    const Image& image = g_image;
    MemorySource source(image.bytes);
    VolumeReadResult sorted = read_ntfs_volume(source, ListingOrder::collation);
    VolumeReadResult walked = read_ntfs_volume_in_tree_order(source);
    ASSERT_TRUE(sorted.tree) << sorted.error;
    ASSERT_TRUE(walked.tree) << walked.error;
    std::vector<VolumeEntry> a, b;
    for (const auto& [path, names] : image.readdir) {
        auto folder = folder_at(*walked.tree, path);
        ASSERT_TRUE(folder) << path;
        EXPECT_FALSE(sorted.tree->list(*folder, a));
        EXPECT_FALSE(walked.tree->list(*folder, b));
        EXPECT_EQ(names_of(a), names_of(b)) << path;
        for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
            EXPECT_EQ(a[i].record, b[i].record) << path << " " << i;
    }
}

TEST_F(NtfsImage, HardLinksBehindAnAttributeListAndNamesFoundAsEachHostFinds) {
    MemorySource source(g_image.bytes);
    VolumeReadResult sorted = read_ntfs_volume(source, ListingOrder::collation);
    VolumeReadResult blocks = read_ntfs_volume(source, ListingOrder::index_blocks);
    ASSERT_TRUE(sorted.tree && blocks.tree);
    const std::string links = "hard-links/links_" + std::string(200, 'w');
    std::vector<VolumeEntry> here, other;
    sorted.tree->list(*folder_at(*sorted.tree, links), here);
    sorted.tree->list(*folder_at(*sorted.tree, links + "/other"), other);
    ASSERT_EQ(here.size() + other.size(), 41u + 1);  // and the folder "other"
    std::size_t names = 0;
    for (const auto& list : {here, other})
        for (const VolumeEntry& e : list) names += e.record == other.front().record;
    EXPECT_EQ(names, 41u);

    const std::string posix = "posix-names/posix_" + std::string(200, 'w');
    const std::string dos = "dos-names/dos_" + std::string(200, 'w');
    struct Case {
        std::string folder;
        std::u16string name;
        const char16_t* windows;  // the folder Windows finds, by name
        const char16_t* linux;    // the one ntfs-3g finds
    } cases[] = {
        {"", u"BIG-FOLDER", u"big-folder", nullptr},
        {"", u"big-folde", nullptr, nullptr},
        {posix, u"DIR", u"Dir", nullptr},  // of two, the first in collation order
        {posix, u"dir", u"dir", u"dir"},
        {posix, u"case", nullptr, nullptr},  // a file
        {dos, u"FOLDER~1", u"Folder With A Long Name", u"Folder With A Long Name"},
        {dos, u"folder~1", u"Folder With A Long Name", nullptr},
        {dos, u"LONGFI~1.TXT", nullptr, nullptr},  // a file's short name
    };
    for (const Case& c : cases) {
        for (auto [tree, expected] :
             {std::pair{sorted.tree.get(), c.windows}, std::pair{blocks.tree.get(), c.linux}}) {
            auto found = tree->find(*folder_at(*tree, c.folder), c.name);
            EXPECT_EQ(found.has_value(), expected != nullptr) << c.folder;
            if (found && expected) {
                EXPECT_EQ(found->name, std::u16string_view(expected));
            }
        }
    }
}

TEST_F(NtfsImage, DamagedCopiesAreRefusedOrReportedCleanly) {
    struct Case {
        const char* kind;
        const char* refused;   // part of the error, or null when the volume is read
        const char* reported;  // part of a damage message
    } cases[] = {
        {"torn-fixup", nullptr, "is torn"},
        {"mft-past-end", "past the volume's end", nullptr},
        {"parent-loop", nullptr, "in a loop"},
        // The table's own list, sent back to its record: its runs are lost.
        {"attribute-list-loop", "is missing from record 0", nullptr},
        {"truncated", "shorter than its NTFS volume", nullptr},
        {"random", "not an NTFS volume", nullptr},
    };
    for (const Case& c : cases) {
        MemorySource source(read_image(g_damaged.at(c.kind)));
        for (ListingOrder order : {ListingOrder::collation, ListingOrder::index_blocks}) {
            VolumeReadResult read = read_ntfs_volume(source, order);
            if (c.refused) {
                EXPECT_FALSE(read.tree) << c.kind;
                EXPECT_NE(read.error.find(c.refused), std::string::npos)
                    << c.kind << ": " << read.error;
                continue;
            }
            ASSERT_TRUE(read.tree) << c.kind << ": " << read.error;
            std::string messages;
            for (const FolderDamage& d : read.tree->unplaced_damage()) messages += d.message + "\n";
            std::vector<VolumeEntry> entries;
            for (RecordNumber n = kRootFolder; n < read.tree->figures().records_read; ++n)
                if (auto d = read.tree->list(n, entries);
                    d && d->message.find("no whole folder") == std::string::npos)
                    messages += d->message + "\n";
            EXPECT_NE(messages.find(c.reported), std::string::npos) << c.kind << ": " << messages;
        }
    }
}

}  // namespace
}  // namespace kestrafin::volume
