// kestrafin-count-walk [--threads N] ROOT: the bare walks the scanner is
// measured against. The serial one opens each folder relative to its parent,
// reads it with getdents64 in large blocks, counts the entries that are no
// folders and follows no links. With --threads, N threads read the folders in
// no order and follow links to folders, entering each folder through one link
// at most: the scanner's reads without its order, its other rules or its
// output, as fast as any walker of the same folders could go with that many
// reads at once. Both leave out kernel file systems, as the scanner does.
// Prints the count; folders that could not be read are counted on standard
// error, so that a count short of the tree does not pass unseen.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/files.h"

namespace {

struct Dirent64 {
    unsigned long long d_ino;
    long long d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr int kDirectoryType = 4;
constexpr int kUnknownType = 0;
unsigned long long files = 0;
std::atomic<unsigned long long> unreadable{0};
char block[32 * 1024];

// A kernel file system is entered only where the device changes, as the
// scanner looks only at mounts.
bool leads_to_kernel_file_system(int folder, dev_t parent_device, dev_t& device) {
    struct stat identity {};
    if (fstat(folder, &identity) != 0) return true;
    device = identity.st_dev;
    return device != parent_device &&
           kestrafin::platform::linux_host::is_kernel_file_system(folder);
}

// A file system that does not tell the type of its entries (ext2 without
// its file type feature, some network and FUSE ones) leaves it to a stat.
bool is_folder_entry(int folder, const Dirent64& entry) {
    if (entry.d_type != kUnknownType) return entry.d_type == kDirectoryType;
    struct stat target {};
    return fstatat(folder, entry.d_name, &target, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(target.st_mode);
}

// Folders of the serial walk held open at once: below that depth an
// ancestor's handle is closed once its names are read, and opened again
// through ".." on the way back, so that no chain is too deep for the
// descriptor limit.
constexpr std::size_t kOpenLevels = 64;

// One level of the serial walk: its folder (-1 while closed) and the names of
// its subfolders, gathered first since the block is shared by all levels.
struct Level {
    int folder = -1;
    dev_t device = 0;
    std::vector<char> names;
    std::size_t next = 0;
};

void walk(int root, dev_t device) {
    // Levels are kept for reuse: a deep tree allocates once per depth.
    std::vector<Level> levels(1);
    std::size_t depth = 1;
    levels[0].folder = root;
    levels[0].device = device;
    for (bool entering = true;;) {
        Level& level = levels[depth - 1];
        if (entering) {
            level.names.clear();
            level.next = 0;
            for (;;) {
                const long got = syscall(SYS_getdents64, level.folder, block, sizeof block);
                if (got < 0) ++unreadable;
                if (got <= 0) break;
                for (long at = 0; at < got;) {
                    const auto* entry = reinterpret_cast<const Dirent64*>(block + at);
                    at += entry->d_reclen;
                    const char* name = entry->d_name;
                    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                        continue;
                    if (!is_folder_entry(level.folder, *entry)) {
                        ++files;
                        continue;
                    }
                    level.names.insert(level.names.end(), name, name + std::strlen(name) + 1);
                }
            }
        }
        entering = false;
        if (level.next == level.names.size()) {
            if (depth == 1) return;
            Level& parent = levels[depth - 2];
            if (parent.folder < 0)
                parent.folder = openat(level.folder, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            close(level.folder);
            --depth;
            if (parent.folder < 0) {
                // The rest of the tree above cannot be reached again.
                ++unreadable;
                return;
            }
            continue;
        }
        const char* name = level.names.data() + level.next;
        level.next += std::strlen(name) + 1;
        const int child = openat(level.folder, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dev_t child_device = 0;
        if (child < 0 || leads_to_kernel_file_system(child, level.device, child_device)) {
            if (child < 0) ++unreadable;
            if (child >= 0) close(child);
            continue;
        }
        if (depth == levels.size()) levels.emplace_back();
        levels[depth].folder = child;
        levels[depth].device = child_device;
        if (depth > kOpenLevels) {
            Level& ancestor = levels[depth - kOpenLevels];
            if (ancestor.folder >= 0) close(ancestor.folder);
            ancestor.folder = -1;
        }
        ++depth;
        entering = true;
    }
}

// Folders found and not yet read, shared by the threads of the unordered walk.
class UnorderedWalk {
  public:
    explicit UnorderedWalk(std::string root, dev_t device) {
        waiting_.push_back({std::move(root), false, device});
    }

    unsigned long long run(unsigned threads) {
        std::vector<std::thread> readers;
        for (unsigned started = 0; started < threads; ++started)
            readers.emplace_back([this] { read_folders(); });
        for (std::thread& reader : readers) reader.join();
        return files_;
    }

  private:
    void read_folders() {
        std::vector<char> own_block(sizeof block);
        std::vector<Found> found;
        unsigned long long own_files = 0;
        for (;;) {
            Found next;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return !waiting_.empty() || reading_ == 0; });
                if (waiting_.empty()) break;
                next = std::move(waiting_.back());
                waiting_.pop_back();
                ++reading_;
            }
            found.clear();
            read_folder(next, own_block, found, own_files);
            std::lock_guard lock(mutex_);
            --reading_;
            for (Found& folder : found) waiting_.push_back(std::move(folder));
            if (!found.empty() || reading_ == 0) ready_.notify_all();
        }
        std::lock_guard lock(mutex_);
        files_ += own_files;
        ready_.notify_all();
    }

    struct Found {
        std::string path;
        bool through_link = false;
        dev_t parent_device = 0;
    };

    void read_folder(const Found& reading, std::vector<char>& own_block, std::vector<Found>& found,
                     unsigned long long& own_files) {
        const int folder = open(reading.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            ++unreadable;
            return;
        }
        struct stat identity {};
        if (fstat(folder, &identity) != 0 ||
            (reading.through_link && !first_through_a_link(identity)) ||
            (identity.st_dev != reading.parent_device &&
             kestrafin::platform::linux_host::is_kernel_file_system(folder))) {
            close(folder);
            return;
        }
        for (;;) {
            const long got = syscall(SYS_getdents64, folder, own_block.data(), own_block.size());
            if (got < 0) ++unreadable;
            if (got <= 0) break;
            for (long at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const Dirent64*>(own_block.data() + at);
                at += entry->d_reclen;
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
                bool is_folder = entry->d_type == kDirectoryType;
                const bool link = entry->d_type == kLinkType;
                if (link || entry->d_type == kUnknownType) {
                    struct stat target {};
                    is_folder = fstatat(folder, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
                }
                if (is_folder)
                    found.push_back({reading.path + "/" + name, link, identity.st_dev});
                else
                    ++own_files;
            }
        }
        close(folder);
    }

    bool first_through_a_link(const struct stat& identity) {
        std::lock_guard lock(mutex_);
        return visited_.insert({identity.st_dev, identity.st_ino}).second;
    }

    static constexpr int kLinkType = 10;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<Found> waiting_;
    unsigned reading_ = 0;
    unsigned long long files_ = 0;
    std::set<std::pair<dev_t, ino_t>> visited_;
};

constexpr const char* kUsage = "usage: kestrafin-count-walk [--threads N] ROOT\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("%sCounts the entries that are no folders below ROOT.\n", kUsage);
        return 0;
    }
    unsigned long threads = 0;
    if (argc == 4 && std::strcmp(argv[1], "--threads") == 0) {
        char* end = nullptr;
        threads = std::strtoul(argv[2], &end, 10);
        if (*end != '\0' || threads == 0 || threads > 1024) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        argv += 2;
        argc -= 2;
    }
    if (argc != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const int root = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0) {
        std::perror(argv[1]);
        return 2;
    }
    struct stat identity {};
    if (fstat(root, &identity) != 0) {
        std::perror(argv[1]);
        return 2;
    }
    if (threads > 0) {
        close(root);
        files = UnorderedWalk(argv[1], identity.st_dev).run(static_cast<unsigned>(threads));
    } else {
        walk(root, identity.st_dev);
    }
    std::printf("%llu\n", files);
    if (unreadable > 0) {
        std::fprintf(stderr, "kestrafin-count-walk: %llu folders could not be read\n",
                     unreadable.load());
        return 1;
    }
    return 0;
}
