#define FUSE_USE_VERSION 31
#include "tests/support/long_name_fuse.h"

#include <fcntl.h>
#include <fuse.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

namespace kestrafin::testing {

namespace {

// The tree served: a folder of 210 characters (so its files qualify) holding
// files of 256, 300 and 1,000 bytes, folders of 300 and 1,000 bytes, and a
// chain of short folders x/y/z.
struct Node {
    std::string path;
    bool folder;
};

FileSystemLie served_lie = FileSystemLie::none;

const std::vector<Node>& tree(FileSystemLie lie = served_lie) {
    static const std::vector<Node> hundred_files = [] {
        std::vector<Node> nodes{{"/", true}};
        for (int file = 0; file < 100; ++file)
            nodes.push_back({"/n" + std::to_string(100 + file).substr(1), false});
        return nodes;
    }();
    if (lie == FileSystemLie::unaskable_root_with_early_end_mark) return hundred_files;
    static const std::vector<Node> nodes = [] {
        const std::string top = "/" + std::string(210, 'f');
        const std::string mid = top + "/" + std::string(300, 'd');
        const std::string deep = top + "/" + std::string(1000, 'g');
        return std::vector<Node>{
            {"/", true},
            {top, true},
            {top + "/" + std::string(256, 'a'), false},
            {top + "/" + std::string(300, 'b'), false},
            {top + "/" + std::string(1000, 'c'), false},
            {mid, true},
            {mid + "/" + std::string(1000, 'e'), false},
            {deep, true},
            {deep + "/end", false},
            {top + "/x", true},
            {top + "/x/x1", false},
            {top + "/x/y", true},
            {top + "/x/y/y1", false},
            {top + "/x/y/z", true},
            {top + "/x/y/z/z1", false},
        };
    }();
    return nodes;
}

const Node* find(std::string_view path) {
    for (const Node& node : tree())
        if (node.path == path) return &node;
    return nullptr;
}

std::string parent_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

const std::string& unaskable() {
    static const std::string path = "/" + std::string(210, 'f') + "/x";
    return path;
}

// The inode number the host reports: each node's own (its place in the
// table), unless the file system lies about folders.
ino_t number_of(const Node& node) {
    const auto own = [](const Node& of) { return static_cast<ino_t>(&of - tree().data()) + 1; };
    if (!node.folder) return own(node);
    switch (served_lie) {
        case FileSystemLie::same_number_for_every_folder:
            return 42;
        case FileSystemLie::number_zero_for_every_folder:
            return 0;
        case FileSystemLie::child_takes_parents_number:
            return node.path == "/" ? own(node) : own(*find(parent_of(node.path)));
        default:
            return own(node);
    }
}

int get_attributes(const char* path, struct stat* attributes, fuse_file_info*) {
    const Node* node = find(path);
    if (node == nullptr) return -ENOENT;
    if (served_lie == FileSystemLie::kind_unknown_and_unaskable && node->path == unaskable())
        return -EIO;
    if (served_lie == FileSystemLie::unaskable_root_with_early_end_mark && node->path == "/")
        return -EIO;
    std::memset(attributes, 0, sizeof *attributes);
    attributes->st_mode = node->folder ? S_IFDIR | 0755 : S_IFREG | 0444;
    attributes->st_nlink = node->folder ? 2 : 1;
    attributes->st_ino = number_of(*node);
    return 0;
}

void* start_serving(fuse_conn_info*, fuse_config* config) {
    config->use_ino = 1;  // the numbers above reach the walk as they are
    // Asked afresh every time, so no answer outlives the lie being served.
    config->entry_timeout = config->attr_timeout = config->negative_timeout = 0;
    return nullptr;
}

// The root's files in two replies: the first ends at the largest offset,
// which ext4 gives as where the next read starts once a folder has ended.
int read_in_two_replies(void* buffer, fuse_fill_dir_t fill, off_t offset) {
    constexpr off_t kEndMark = std::numeric_limits<off_t>::max();
    constexpr off_t kSecondHalf = 1000;
    const std::size_t half = (tree().size() - 1) / 2;
    std::size_t next = offset == kEndMark         ? half
                       : offset >= kSecondHalf ? static_cast<std::size_t>(offset - kSecondHalf)
                                                  : static_cast<std::size_t>(offset);
    for (; next < tree().size() - 1; ++next) {
        const off_t after = next + 1 == half ? kEndMark
                            : next < half    ? static_cast<off_t>(next + 1)
                                             : kSecondHalf + static_cast<off_t>(next + 1);
        struct stat attributes {};
        attributes.st_mode = S_IFREG;
        attributes.st_ino = next + 2;
        if (fill(buffer, tree()[next + 1].path.c_str() + 1, &attributes, after,
                 fuse_fill_dir_flags{}) != 0 ||
            next + 1 == half)
            break;
    }
    return 0;
}

int read_folder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                fuse_file_info*, fuse_readdir_flags) {
    if (served_lie == FileSystemLie::unaskable_root_with_early_end_mark)
        return read_in_two_replies(buffer, fill, offset);
    const Node* folder = find(path);
    if (folder == nullptr || !folder->folder) return -ENOENT;
    struct stat dot {};
    dot.st_mode = served_lie == FileSystemLie::dots_typed_as_files ? S_IFREG : S_IFDIR;
    fill(buffer, ".", &dot, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", &dot, 0, fuse_fill_dir_flags{});
    for (const Node& node : tree()) {
        if (node.path == "/" || parent_of(node.path) != folder->path) continue;
        struct stat attributes {};
        attributes.st_ino = number_of(node);
        if (served_lie != FileSystemLie::kind_unknown_and_unaskable)
            attributes.st_mode = node.folder ? S_IFDIR : S_IFREG;
        const std::string name = node.path.substr(node.path.rfind('/') + 1);
        fill(buffer, name.c_str(), &attributes, 0, fuse_fill_dir_flags{});
    }
    return 0;
}

int open_file(const char* path, fuse_file_info*) {
    const Node* node = find(path);
    return node == nullptr ? -ENOENT : node->folder ? -EISDIR : 0;
}

int read_file(const char*, char*, size_t, off_t, fuse_file_info*) {
    return 0;
}

[[noreturn]] void serve(const std::string& mount_point, int ready) {
    fuse_operations operations{};
    operations.getattr = get_attributes;
    operations.readdir = read_folder;
    operations.open = open_file;
    operations.read = read_file;
    operations.init = start_serving;
    char program[] = "kestrafin-long-names";
    char* arguments[] = {program, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, arguments);
    fuse* system = fuse_new(&args, &operations, sizeof operations, nullptr);
    if (system == nullptr) _exit(3);
    if (fuse_mount(system, mount_point.c_str()) != 0) _exit(4);
    if (write(ready, "1", 1) != 1) _exit(5);
    close(ready);
    fuse_loop(system);
    fuse_unmount(system);
    fuse_destroy(system);
    _exit(0);
}

}  // namespace

LongNameFileSystem::LongNameFileSystem(std::string mount_point, FileSystemLie lie)
    : mount_point_(std::move(mount_point)) {
    const int device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0) {
        why_not_ = std::string("/dev/fuse cannot be used here: ") + std::strerror(errno);
        return;
    }
    ::close(device);
    int ready[2];
    if (pipe(ready) != 0) {
        why_not_ = "no pipe";
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        served_lie = lie;
        serve(mount_point_, ready[1]);
    }
    close(ready[1]);
    char answer = 0;
    pollfd waiting{ready[0], POLLIN, 0};
    const bool answered = poll(&waiting, 1, 10000) == 1 && read(ready[0], &answer, 1) == 1;
    close(ready[0]);
    if (answered) {
        server_ = child;
        return;
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    why_not_ = "the FUSE file system could not be mounted here (server status " +
               std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
}

LongNameFileSystem::~LongNameFileSystem() {
    if (server_ <= 0) return;
    umount2(mount_point_.c_str(), MNT_DETACH);
    // The server's loop ends once the kernel drops the mount.
    for (int waited = 0; waited < 100; ++waited) {
        int status = 0;
        if (waitpid(server_, &status, WNOHANG) == server_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(server_, SIGKILL);
    waitpid(server_, nullptr, 0);
}

namespace {

void add_files_below(const std::string& folder, FileSystemLie lie,
                     std::vector<std::string>& paths) {
    if (lie == FileSystemLie::kind_unknown_and_unaskable && folder == unaskable()) return;
    for (const Node& node : tree(lie))
        if (!node.folder && parent_of(node.path) == folder) paths.push_back(node.path);
    for (const Node& node : tree(lie))
        if (node.folder && node.path != "/" && parent_of(node.path) == folder)
            add_files_below(node.path, lie, paths);
}

}  // namespace

std::vector<std::string> LongNameFileSystem::files(FileSystemLie lie) {
    std::vector<std::string> paths;
    add_files_below("/", lie, paths);
    return paths;
}

std::string LongNameFileSystem::unaskable_folder() {
    return unaskable();
}

}  // namespace kestrafin::testing
