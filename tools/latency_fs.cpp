// kestrafin-latency-fs SOURCE MOUNTPOINT [MILLISECONDS]: mounts a read-only
// view of SOURCE on MOUNTPOINT that waits MILLISECONDS (default 1) before
// answering each request that is a round trip on a network share: lookup,
// getattr, opendir, readdir, readlink. Many threads serve the requests, so
// requests made at once wait at once, and attributes are cached for a second
// as a share client caches them. A link whose target is an absolute path
// inside SOURCE names the same place inside MOUNTPOINT, as if the share were
// mounted where its folder lies, so that a walk never leaves the share for the
// folder behind it. Runs in the foreground until unmounted (fusermount3 -u
// MOUNTPOINT) or stopped by SIGINT, SIGTERM or SIGHUP, which unmount it.
// SIGUSR1 has it write the round trips served since the last SIGUSR1.
// With --stop-at-first-write before SOURCE, files can also be created,
// written, synced, renamed and removed, and the server stops itself (SIGSTOP)
// on the first write it is asked for, before answering it: a share whose host
// goes away in the middle of a save, at a moment a test can wait for.
// --stop-at-first-create does the same once it has made the first file it is
// asked to create, before answering: the host goes while the file is made.
#define FUSE_USE_VERSION 35
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

int source_folder = -1;
std::chrono::microseconds delay{1000};
std::string source_path;  // absolute, without a trailing separator
std::string mount_path;   // likewise
bool writable = false;
enum class StopAt { nothing, first_create, first_write };
StopAt stop_at = StopAt::nothing;
std::atomic<bool> stopped_once{false};

// The caller waits for the answer to the request being served until the
// server is continued.
void stop_once(StopAt point) {
    if (stop_at == point && !stopped_once.exchange(true)) raise(SIGSTOP);
}

enum class RoundTrip { attributes, link, open_folder, read_folder };
constexpr std::size_t kRoundTripKinds = 4;
std::array<std::atomic<long>, kRoundTripKinds> served{};

void wait_like_a_share(RoundTrip kind) {
    served[static_cast<std::size_t>(kind)].fetch_add(1, std::memory_order_relaxed);
    std::this_thread::sleep_for(delay);
}

// On each SIGUSR1, writes the round trips served since the last report to
// standard error, so that a benchmark can tell what each walker asked for.
void report_round_trips(sigset_t report_signal) {
    for (;;) {
        int received = 0;
        if (sigwait(&report_signal, &received) != 0) continue;
        std::array<long, kRoundTripKinds> counts{};
        for (std::size_t kind = 0; kind < kRoundTripKinds; ++kind)
            counts[kind] = served[kind].exchange(0);
        std::fprintf(stderr,
                     "round trips: %ld lookup or getattr, %ld readlink, %ld opendir, %ld readdir\n",
                     counts[0], counts[1], counts[2], counts[3]);
        std::fflush(stderr);
    }
}

// The path of an entry relative to the source folder ("." for the top).
std::string relative(const char* path) {
    while (*path == '/') ++path;
    return *path == '\0' ? std::string(".") : std::string(path);
}

// A target inside the source folder, named from the source's absolute path,
// as the same place inside the mount; any other target unchanged.
std::string target_on_share(std::string target) {
    if (target.starts_with(source_path) &&
        (target.size() == source_path.size() || target[source_path.size()] == '/'))
        target.replace(0, source_path.size(), mount_path);
    return target;
}

// The link's target as the share shows it; false with errno set on failure.
bool link_target(const char* path, std::string& target) {
    std::string buffer(4096, '\0');
    const ssize_t length =
        readlinkat(source_folder, relative(path).c_str(), buffer.data(), buffer.size());
    if (length < 0) return false;
    buffer.resize(static_cast<std::size_t>(length));
    target = target_on_share(std::move(buffer));
    return true;
}

int get_attributes(const char* path, struct stat* attributes, fuse_file_info*) {
    wait_like_a_share(RoundTrip::attributes);
    if (fstatat(source_folder, relative(path).c_str(), attributes, AT_SYMLINK_NOFOLLOW) != 0)
        return -errno;
    std::string target;
    if (S_ISLNK(attributes->st_mode) && link_target(path, target))
        attributes->st_size = static_cast<off_t>(target.size());
    return 0;
}

int read_link(const char* path, char* buffer, size_t size) {
    wait_like_a_share(RoundTrip::link);
    std::string target;
    if (!link_target(path, target)) return -errno;
    // Cut to the caller's buffer, as readlink does.
    const std::size_t length = std::min(target.size(), size - 1);
    std::memcpy(buffer, target.data(), length);
    buffer[length] = '\0';
    return 0;
}

int open_folder(const char* path, fuse_file_info* info) {
    wait_like_a_share(RoundTrip::open_folder);
    const int folder =
        openat(source_folder, relative(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (folder < 0) return -errno;
    info->fh = static_cast<std::uint64_t>(folder);
    return 0;
}

// Hands over every name in one answer, with its type, as a share's folder
// listing does.
int read_folder(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* info,
                fuse_readdir_flags) {
    wait_like_a_share(RoundTrip::read_folder);
    DIR* listing = fdopendir(dup(static_cast<int>(info->fh)));
    if (listing == nullptr) return -errno;
    rewinddir(listing);
    while (const dirent* entry = readdir(listing)) {
        struct stat attributes {};
        attributes.st_ino = entry->d_ino;
        attributes.st_mode = DTTOIF(entry->d_type);
        if (fill(buffer, entry->d_name, &attributes, 0, fuse_fill_dir_flags{}) != 0) break;
    }
    closedir(listing);
    return 0;
}

int release_folder(const char*, fuse_file_info* info) {
    close(static_cast<int>(info->fh));
    return 0;
}

int open_file(const char* path, fuse_file_info* info) {
    if (!writable && (info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    const int flags = writable ? (info->flags & (O_ACCMODE | O_TRUNC | O_APPEND)) : O_RDONLY;
    const int file = openat(source_folder, relative(path).c_str(), flags | O_NOFOLLOW);
    if (file < 0) return -errno;
    info->fh = static_cast<std::uint64_t>(file);
    return 0;
}

int read_file(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
    const ssize_t count = pread(static_cast<int>(info->fh), buffer, size, offset);
    return count < 0 ? -errno : static_cast<int>(count);
}

int release_file(const char*, fuse_file_info* info) {
    close(static_cast<int>(info->fh));
    return 0;
}

int create_file(const char* path, mode_t mode, fuse_file_info* info) {
    const int file =
        openat(source_folder, relative(path).c_str(),
               (info->flags & (O_ACCMODE | O_EXCL | O_TRUNC)) | O_CREAT | O_NOFOLLOW, mode);
    if (file < 0) return -errno;
    info->fh = static_cast<std::uint64_t>(file);
    stop_once(StopAt::first_create);
    return 0;
}

int write_file(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* info) {
    stop_once(StopAt::first_write);
    const ssize_t count = pwrite(static_cast<int>(info->fh), buffer, size, offset);
    return count < 0 ? -errno : static_cast<int>(count);
}

int sync_file(const char*, int, fuse_file_info* info) {
    return fsync(static_cast<int>(info->fh)) == 0 ? 0 : -errno;
}

int rename_entry(const char* from, const char* to, unsigned int flags) {
    if (flags != 0) return -EINVAL;
    return renameat(source_folder, relative(from).c_str(), source_folder, relative(to).c_str()) == 0
               ? 0
               : -errno;
}

int remove_file(const char* path) {
    return unlinkat(source_folder, relative(path).c_str(), 0) == 0 ? 0 : -errno;
}

int change_mode(const char* path, mode_t mode, fuse_file_info* info) {
    const int done = info != nullptr ? fchmod(static_cast<int>(info->fh), mode)
                                     : fchmodat(source_folder, relative(path).c_str(), mode, 0);
    return done == 0 ? 0 : -errno;
}

void* start(fuse_conn_info*, fuse_config* config) {
    config->entry_timeout = 1.0;
    config->attr_timeout = 1.0;
    config->negative_timeout = 1.0;
    config->use_ino = 1;
    return nullptr;
}

constexpr const char* kUsage =
    "usage: kestrafin-latency-fs [--stop-at-first-write | --stop-at-first-create] SOURCE\n"
    "                            MOUNTPOINT [MILLISECONDS]\n"
    "Mounts a read-only view of SOURCE that waits MILLISECONDS (default 1) on each\n"
    "lookup, getattr, opendir, readdir and readlink, and shows absolute links into\n"
    "SOURCE as links into MOUNTPOINT. Runs until fusermount3 -u MOUNTPOINT, or until\n"
    "SIGINT, SIGTERM or SIGHUP, which unmount it. On SIGUSR1 it writes the round trips\n"
    "served since the last SIGUSR1 to standard error. --stop-at-first-write makes the\n"
    "view writable and has the server stop itself (SIGSTOP) on the first write, before\n"
    "answering it; --stop-at-first-create, once it has made the first file asked for.\n";

// The absolute form of a folder's path, without a trailing separator; empty
// when it cannot be found.
std::string absolute_folder(const char* path) {
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return {};
    std::string folder(resolved);
    std::free(resolved);
    return folder == "/" ? std::string() : folder;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    char* const program = argv[0];
    if (argc >= 2 && (std::strcmp(argv[1], "--stop-at-first-write") == 0 ||
                      std::strcmp(argv[1], "--stop-at-first-create") == 0)) {
        writable = true;
        stop_at = std::strcmp(argv[1], "--stop-at-first-write") == 0 ? StopAt::first_write
                                                                     : StopAt::first_create;
        --argc;
        ++argv;
    }
    if (argc < 3 || argc > 4) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (argc == 4) {
        char* end = nullptr;
        const double milliseconds = std::strtod(argv[3], &end);
        if (end == argv[3] || *end != '\0' || milliseconds < 0 || milliseconds > 60'000) {
            std::fprintf(stderr, "kestrafin-latency-fs: not a delay in milliseconds: %s\n",
                         argv[3]);
            return 2;
        }
        delay = std::chrono::microseconds(static_cast<long>(milliseconds * 1000));
    }
    source_folder = open(argv[1], O_RDONLY | O_DIRECTORY);
    if (source_folder < 0) {
        std::fprintf(stderr, "kestrafin-latency-fs: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    // Links name the source by the path they were made with, which realpath
    // gives unless the source was reached through a link itself.
    source_path = argv[1][0] == '/' ? std::string(argv[1]) : absolute_folder(argv[1]);
    while (!source_path.empty() && source_path.back() == '/') source_path.pop_back();
    mount_path = absolute_folder(argv[2]);
    if (mount_path.empty()) {
        std::fprintf(stderr, "kestrafin-latency-fs: %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    // A program started in the background inherits SIGINT ignored, and libfuse
    // leaves an ignored signal alone: it would then never unmount on SIGINT.
    for (const int stop_signal : {SIGINT, SIGTERM, SIGHUP}) signal(stop_signal, SIG_DFL);
    // Blocked before libfuse starts its threads, so that only the reporter takes it.
    sigset_t report_signal;
    sigemptyset(&report_signal);
    sigaddset(&report_signal, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &report_signal, nullptr);
    std::thread(report_round_trips, report_signal).detach();
    fuse_operations operations{};
    operations.getattr = get_attributes;
    operations.readlink = read_link;
    operations.opendir = open_folder;
    operations.readdir = read_folder;
    operations.releasedir = release_folder;
    operations.open = open_file;
    operations.read = read_file;
    operations.release = release_file;
    operations.init = start;
    if (writable) {
        operations.create = create_file;
        operations.write = write_file;
        operations.fsync = sync_file;
        operations.rename = rename_entry;
        operations.unlink = remove_file;
        operations.chmod = change_mode;
    }
    std::vector<char*> arguments{
        program, argv[2], const_cast<char*>("-f"), const_cast<char*>("-o"),
        const_cast<char*>(writable ? "max_threads=256,max_idle_threads=256"
                                   : "ro,max_threads=256,max_idle_threads=256")};
    return fuse_main(static_cast<int>(arguments.size()), arguments.data(), &operations, nullptr);
}
