// Folders on Linux: getdents64 in large blocks, d_type for the kind of each
// entry, and stat only for links and entries of unknown type. Kernel file
// systems are told by the magic number fstatfs reports, mounts below them by
// the process's mount table.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/folders.h"
#include "platform/linux/files.h"

namespace kestrafin::platform {

namespace {

constexpr std::uint64_t kTmpfsMagic = 0x01021994;
constexpr std::uint64_t kExtMagic = 0xEF53;  // ext2, ext3 and ext4

// autofs is left out: it is where networks mount users' home folders.
constexpr std::array<std::uint64_t, 17> kKernelMagics = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x1cd1,      // devpts
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0x73636673,  // securityfs
    0x6165676C,  // pstore
    0xcafe4a11,  // bpf
    0x62656570,  // configfs
    0xde5e81e4,  // efivarfs
    0x65735543,  // fusectl
    0x19800202,  // mqueue
    0x42494e4d,  // binfmt_misc
    0x6e736673,  // nsfs
    0x67596969,  // rpc_pipefs
};

std::string read_small_file(const char* path) {
    std::string content;
    const int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return content;
    char block[16384];
    ssize_t got = 0;
    while ((got = ::read(file, block, sizeof block)) > 0)
        content.append(block, static_cast<std::size_t>(got));
    ::close(file);
    return content;
}

// Calls `take` with each line of the mount table until it returns true.
template <typename Take>
void for_each_mount(Take take) {
    const std::string table = read_small_file("/proc/self/mountinfo");
    std::size_t line_start = 0;
    while (line_start < table.size()) {
        std::size_t line_end = table.find('\n', line_start);
        if (line_end == std::string::npos) line_end = table.size();
        const std::string_view line(table.data() + line_start, line_end - line_start);
        line_start = line_end + 1;
        if (take(line)) return;
    }
}

// devtmpfs reports the magic number of tmpfs, so its name is looked up in
// the mount table by the folder's device number.
bool is_devtmpfs(int descriptor) {
    struct stat folder {};
    if (fstat(descriptor, &folder) != 0) return false;
    const std::string device = " " + std::to_string(major(folder.st_dev)) + ":" +
                               std::to_string(minor(folder.st_dev)) + " ";
    bool found = false;
    for_each_mount([&](std::string_view line) {
        if (line.find(device) == std::string_view::npos) return false;
        const std::size_t separator = line.find(" - ");
        found = separator != std::string_view::npos &&
                line.substr(separator + 3).starts_with("devtmpfs ");
        return found;
    });
    return found;
}

// The mount point of a mount table line (its fifth field), with the octal
// escapes of blanks and backslashes undone.
std::string mount_point_of(std::string_view line) {
    std::size_t start = 0;
    for (int field = 0; field < 4; ++field) {
        start = line.find(' ', start);
        if (start == std::string_view::npos) return {};
        ++start;
    }
    const std::size_t end = std::min(line.find(' ', start), line.size());
    std::string point;
    for (std::size_t at = start; at < end; ++at) {
        if (line[at] == '\\' && at + 3 < end) {
            point.push_back(static_cast<char>((line[at + 1] - '0') * 64 + (line[at + 2] - '0') * 8 +
                                              (line[at + 3] - '0')));
            at += 3;
        } else {
            point.push_back(line[at]);
        }
    }
    return point;
}

}  // namespace

namespace linux_host {

bool is_kernel_file_system(int descriptor) {
    struct statfs system {};
    if (fstatfs(descriptor, &system) != 0) return false;
    const auto magic = static_cast<std::uint64_t>(static_cast<std::uint32_t>(system.f_type));
    if (std::find(kKernelMagics.begin(), kKernelMagics.end(), magic) != kKernelMagics.end())
        return true;
    return magic == kTmpfsMagic && is_devtmpfs(descriptor);
}

}  // namespace linux_host

namespace {

using linux_host::is_kernel_file_system;

bool is_kernel_mount(const std::string& point) {
    const int mount = ::open(point.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (mount < 0) return true;  // out of reach: nothing to walk there
    const bool kernel = is_kernel_file_system(mount);
    ::close(mount);
    return kernel;
}

// The names of the subfolders of the open folder `descriptor` that lead down
// to mounts of file systems other than kernel ones, each once; empty when
// the host cannot be asked.
std::vector<std::string> ways_to_user_mounts_below(int descriptor) {
    std::vector<std::string> ways;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", descriptor);
    std::string folder(PATH_MAX, '\0');
    const ssize_t got = ::readlink(link, folder.data(), folder.size());
    if (got <= 0 || static_cast<std::size_t>(got) >= folder.size()) return ways;
    folder.resize(static_cast<std::size_t>(got));
    if (folder.back() != '/') folder.push_back('/');
    for_each_mount([&](std::string_view line) {
        const std::string point = mount_point_of(line);
        if (point.size() <= folder.size() || !point.starts_with(folder)) return false;
        const std::string way =
            point.substr(folder.size(), point.find('/', folder.size()) - folder.size());
        if (std::find(ways.begin(), ways.end(), way) == ways.end() && !is_kernel_mount(point))
            ways.push_back(way);
        return false;
    });
    return ways;
}

constexpr std::size_t kReadBlockSize = 32 * 1024;
// ext4 reads a folder in the order of its names' hashes (on every volume made
// with an index, as volumes are by default), and a read that reached the
// folder's end, with nothing left unsaid, gives the largest offset there is,
// which no hash takes, as where the next one starts.
constexpr off64_t kEndOfHashOrder = std::numeric_limits<off64_t>::max();
constexpr int kOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

// Where the read after `block`, `filled` bytes long, starts.
off64_t offset_after(const char* block, std::size_t filled) {
    off64_t offset = 0;
    for (std::size_t at = 0; at < filled;) {
        const auto* record = reinterpret_cast<const LinuxDirent64*>(block + at);
        if (record->d_reclen == 0) break;
        offset = record->d_off;
        at += record->d_reclen;
    }
    return offset;
}

// Read blocks are kept for the next folder opened on the same thread, so that
// a walk does not ask the allocator for 32 KiB per folder.
class BlockCache {
  public:
    std::unique_ptr<char[]> take() {
        if (count_ == 0) return std::unique_ptr<char[]>(new char[kReadBlockSize]);
        return std::move(kept_[--count_]);
    }
    void give_back(std::unique_ptr<char[]> block) {
        if (block && count_ < kept_.size()) kept_[count_++] = std::move(block);
    }

  private:
    std::array<std::unique_ptr<char[]>, 8> kept_;
    std::size_t count_ = 0;
};

thread_local BlockCache block_cache;

std::error_code last_error() {
    return {errno, std::system_category()};
}

EntryKind kind_of_link(int folder, const char* name) {
    struct stat target {};
    return fstatat(folder, name, &target, 0) == 0 && S_ISDIR(target.st_mode)
               ? EntryKind::link_to_folder
               : EntryKind::other;
}

// The kind of one entry; false when it vanished before it could be asked.
// An entry the host types as unknown and then cannot stat is reported as
// such, never guessed to be a file: it may be a folder full of files.
bool kind_of(int folder, const char* name, unsigned char type, FolderEntry& entry) {
    entry.error.clear();
    switch (type) {
        case DT_REG:
            entry.kind = EntryKind::file;
            return true;
        case DT_DIR:
            entry.kind = EntryKind::folder;
            return true;
        case DT_LNK:
            entry.kind = kind_of_link(folder, name);
            return true;
        case DT_UNKNOWN: {
            struct stat found {};
            if (fstatat(folder, name, &found, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT) return false;
                entry.kind = EntryKind::unknown;
                entry.error = last_error();
            } else if (S_ISLNK(found.st_mode)) {
                entry.kind = kind_of_link(folder, name);
            } else {
                entry.kind = S_ISDIR(found.st_mode)   ? EntryKind::folder
                             : S_ISREG(found.st_mode) ? EntryKind::file
                                                      : EntryKind::other;
            }
            return true;
        }
        default:
            entry.kind = EntryKind::other;
            return true;
    }
}

bool needs_lookup(unsigned char type) {
    return type == DT_LNK || type == DT_UNKNOWN;
}

// The kind of an entry of the block just read, looked up before next() comes
// to it.
struct LookedUp {
    std::size_t position = 0;  // of its record in the block
    bool present = false;      // false when it vanished before it could be asked
    EntryKind kind = EntryKind::other;
    std::error_code error;
};

// A lookup that took this long waited for the host, as on a share or on a disk
// whose data is not cached: those of the rest of the block are made at once.
constexpr std::chrono::microseconds kSlowLookup{100};
// A helper is worth asking for this many lookups; there are this many at most.
constexpr std::size_t kLookupsPerHelper = 4;
constexpr std::size_t kMostHelpers = 64;

}  // namespace

// Helpers wait for the next block once they are started: a cold walk of /usr
// wants help for hundreds of blocks, and starting threads for each took more
// of the processors than the lookups they made.
struct LookupHelpers::State {
    // Runs `work` on this thread and on up to `helpers` helpers at once;
    // returns once every run of it has returned. `work` takes its share of a
    // common list, so it may run any number of times.
    void run(std::size_t helpers, const std::function<void()>& work) {
        Job job{&work, helpers};
        if (helpers > 0) {
            std::lock_guard lock(mutex);
            jobs.push_back(&job);
            wanted += helpers;
            // Idle helpers first: each woken takes a share of the job.
            for (std::size_t woken = 0; woken < std::min(helpers, idle); ++woken)
                work_ready.notify_one();
            start_wanted_helpers();
        }
        work();
        if (helpers == 0) return;
        std::unique_lock lock(mutex);
        // Help not yet given is not wanted any more.
        if (job.unstarted > 0) {
            wanted -= job.unstarted;
            job.unstarted = 0;
            std::erase(jobs, &job);
        }
        finished.wait(lock, [&] { return job.running == 0; });
    }

    ~State() {
        {
            std::lock_guard lock(mutex);
            ending = true;
        }
        work_ready.notify_all();
        for (std::thread& helper : helpers) helper.join();
    }

    struct Job {
        const std::function<void()>* work;
        std::size_t unstarted;
        std::size_t running = 0;
    };

    // With the lock held.
    void start_wanted_helpers() {
        while (idle + starting < wanted && helpers.size() < kMostHelpers) {
            try {
                helpers.emplace_back([this] { help(); });
            } catch (const std::exception&) {
                break;  // fewer helpers only make the lookups slower
            }
            ++starting;
        }
    }

    void help() {
        // Helpers work for readers as often as for the walk: like readers,
        // they give way to it, whichever thread started them.
        give_way_to_other_threads();
        std::unique_lock lock(mutex);
        --starting;
        for (;;) {
            ++idle;
            work_ready.wait(lock, [&] { return !jobs.empty() || ending; });
            --idle;
            if (jobs.empty()) return;
            Job& job = *jobs.front();
            if (--job.unstarted == 0) jobs.pop_front();
            --wanted;
            ++job.running;
            lock.unlock();
            (*job.work)();
            lock.lock();
            if (--job.running == 0) finished.notify_all();
        }
    }

    std::mutex mutex;
    std::condition_variable work_ready;
    std::condition_variable finished;
    std::deque<Job*> jobs;   // those still wanting help, oldest first
    std::size_t wanted = 0;  // helpers they still want
    std::size_t idle = 0;
    std::size_t starting = 0;  // started, not yet waiting
    bool ending = false;
    std::vector<std::thread> helpers;
};

LookupHelpers::LookupHelpers() : state_(std::make_unique<State>()) {}
LookupHelpers::~LookupHelpers() = default;

namespace {

// Looks up the kinds of the entries of `block` from `position` to `filled`
// that need a lookup, up to `at_once` of them at a time, this thread's among
// them.
void look_up_ahead(int descriptor, const char* block, std::size_t position, std::size_t filled,
                   std::size_t at_once, LookupHelpers::State& helpers,
                   std::vector<LookedUp>& looked_up) {
    looked_up.clear();
    for (std::size_t at = position; at < filled;) {
        const auto* record = reinterpret_cast<const LinuxDirent64*>(block + at);
        if (needs_lookup(record->d_type)) {
            looked_up.emplace_back();
            looked_up.back().position = at;
        }
        at += record->d_reclen;
    }
    std::atomic<std::size_t> next{0};
    const std::function<void()> look_up = [&] {
        for (std::size_t index = next++; index < looked_up.size(); index = next++) {
            LookedUp& found = looked_up[index];
            const auto* record = reinterpret_cast<const LinuxDirent64*>(block + found.position);
            FolderEntry entry;
            found.present = kind_of(descriptor, record->d_name, record->d_type, entry);
            found.kind = entry.kind;
            found.error = entry.error;
        }
    };
    const std::size_t wanted =
        std::min(at_once, (looked_up.size() + kLookupsPerHelper - 1) / kLookupsPerHelper);
    helpers.run(wanted > 1 ? wanted - 1 : 0, look_up);
}

}  // namespace

struct Folder::State {
    int descriptor = -1;
    std::unique_ptr<char[]> block;
    std::size_t position = 0;
    std::size_t filled = 0;
    mutable bool mount_root = false;  // learnt by identity()
    std::size_t lookups_at_once = 1;
    LookupHelpers::State* helpers = nullptr;  // set with lookups_at_once above 1
    bool last_lookup_slow = false;
    std::vector<LookedUp> looked_up;  // in the block, from looked_up_next on
    std::size_t looked_up_next = 0;
    // The last volume learnt and whether it is ext2/3/4: the parent's until
    // identity() learns the folder's own. On ext a folder has ended once a
    // read gave the end of the hash order as where the next one starts: the
    // read that would return nothing is spared (one in two per folder of a
    // walk). A read cut short (by a signal for the thread, or by a damaged
    // name whose error the next read reports) gives another place.
    std::uint64_t volume = 0;
    bool volume_known = false;
    bool volume_is_ext = false;
    // Trusted only for a folder whose own volume identity() learnt to be ext:
    // a mount on an ext folder (a FUSE share that will not tell its identity)
    // may give any offset, and would lose names that come after it.
    bool end_mark_trusted = false;
    bool last_read = false;

    static std::unique_ptr<State> holding(int descriptor) {
        auto state = std::make_unique<State>();
        state->descriptor = descriptor;
        state->block = block_cache.take();
        return state;
    }

    ~State() {
        if (descriptor >= 0) ::close(descriptor);
        block_cache.give_back(std::move(block));
    }
};

Folder::Folder() = default;
Folder::Folder(std::unique_ptr<State> state) : state_(std::move(state)) {}
Folder::Folder(Folder&&) noexcept = default;
Folder& Folder::operator=(Folder&&) noexcept = default;
Folder::~Folder() = default;

Folder Folder::open(std::string_view path, std::error_code& error) {
    error.clear();
    // The host would stop reading the path at a NUL and open another folder.
    if (path.empty() || path.find('\0') != std::string_view::npos) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    const std::string terminated(path);
    const int descriptor = ::open(terminated.c_str(), kOpenFlags);
    if (descriptor < 0) {
        error = last_error();
        return {};
    }
    return Folder(State::holding(descriptor));
}

Folder Folder::open_child(const Folder& parent, std::string_view name,
                          std::string_view /*full_path*/, bool follow_link,
                          std::error_code& error) {
    error.clear();
    if (!parent.is_open() || name.empty() || name.find('\0') != std::string_view::npos ||
        name.find('/') != std::string_view::npos) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return {};
    }
    // Names of up to NAME_MAX bytes, nearly all of them, need no allocation.
    char short_name[NAME_MAX + 1];
    std::string long_name;
    const char* terminated = short_name;
    if (name.size() <= NAME_MAX) {
        std::memcpy(short_name, name.data(), name.size());
        short_name[name.size()] = '\0';
    } else {
        long_name = name;
        terminated = long_name.c_str();
    }
    const int flags = follow_link ? kOpenFlags : kOpenFlags | O_NOFOLLOW;
    const int descriptor = ::openat(parent.state_->descriptor, terminated, flags);
    if (descriptor < 0) {
        error = last_error();
        return {};
    }
    std::unique_ptr<State> state = State::holding(descriptor);
    state->volume = parent.state_->volume;
    state->volume_known = parent.state_->volume_known;
    state->volume_is_ext = parent.state_->volume_is_ext;
    return Folder(std::move(state));
}

bool Folder::is_open() const {
    return state_ != nullptr;
}

bool Folder::next(FolderEntry& entry, std::error_code& error) {
    error.clear();
    if (!state_) return false;
    State& s = *state_;
    for (;;) {
        if (s.position >= s.filled) {
            if (!s.block) return false;
            const long got = s.last_read ? 0
                                         : ::syscall(SYS_getdents64, s.descriptor, s.block.get(),
                                                     kReadBlockSize);
            if (got <= 0) {
                if (got < 0) error = last_error();
                // A drained folder keeps only its descriptor: many stay open
                // while the walk goes on below them.
                block_cache.give_back(std::move(s.block));
                s.looked_up = {};
                s.position = s.filled = 0;
                return false;
            }
            s.position = 0;
            s.filled = static_cast<std::size_t>(got);
            s.last_read =
                s.end_mark_trusted && offset_after(s.block.get(), s.filled) == kEndOfHashOrder;
            s.looked_up.clear();
            s.looked_up_next = 0;
        }
        const std::size_t at = s.position;
        const auto* record = reinterpret_cast<const LinuxDirent64*>(s.block.get() + at);
        s.position += record->d_reclen;
        // The record's length bounds the name even if the host left out its NUL.
        const std::size_t room = record->d_reclen - offsetof(LinuxDirent64, d_name);
        entry.name = std::string_view(record->d_name, strnlen(record->d_name, room));
        if (!needs_lookup(record->d_type) || s.helpers == nullptr) {
            if (kind_of(s.descriptor, record->d_name, record->d_type, entry)) return true;
            continue;
        }
        if (s.looked_up_next < s.looked_up.size() && s.looked_up[s.looked_up_next].position == at) {
            const LookedUp& found = s.looked_up[s.looked_up_next++];
            if (!found.present) continue;
            entry.kind = found.kind;
            entry.error = found.error;
            return true;
        }
        const auto started = std::chrono::steady_clock::now();
        const bool present = kind_of(s.descriptor, record->d_name, record->d_type, entry);
        const bool slow = std::chrono::steady_clock::now() - started >= kSlowLookup;
        // One slow lookup may be a thread kept from its processor; two in a row
        // waited for the host.
        if (slow && s.last_lookup_slow) {
            look_up_ahead(s.descriptor, s.block.get(), s.position, s.filled, s.lookups_at_once,
                          *s.helpers, s.looked_up);
            s.looked_up_next = 0;
        }
        s.last_lookup_slow = slow;
        if (present) return true;
    }
}

void Folder::look_up_at_once(std::size_t lookups, LookupHelpers& helpers) {
    if (!state_) return;
    state_->lookups_at_once = std::max<std::size_t>(lookups, 1);
    state_->helpers = lookups > 1 ? helpers.state_.get() : nullptr;
}

FolderIdentity Folder::identity(std::error_code& error) const {
    error.clear();
    if (!state_) {
        error = std::make_error_code(std::errc::bad_file_descriptor);
        return {};
    }
    // statx tells a mount's root in the same call, bind mounts included.
    struct statx folder {};
    if (::statx(state_->descriptor, "", AT_EMPTY_PATH, STATX_INO, &folder) != 0) {
        error = last_error();
        state_->volume_known = false;
        state_->end_mark_trusted = false;
        return {};
    }
    const auto volume =
        static_cast<std::uint64_t>(makedev(folder.stx_dev_major, folder.stx_dev_minor));
    // One device number is one mounted file system: the parent's type holds
    // for a child that proved to be on the parent's volume.
    if (!state_->volume_known || state_->volume != volume) {
        struct statfs system {};
        state_->volume = volume;
        state_->volume_known = true;
        state_->volume_is_ext = fstatfs(state_->descriptor, &system) == 0 &&
                                static_cast<std::uint32_t>(system.f_type) == kExtMagic;
    }
    state_->end_mark_trusted = state_->volume_is_ext;
    // Kernels before 5.8 do not tell; the walk then knows mounts by their volume.
    state_->mount_root =
        (folder.stx_attributes & folder.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0;
    return {volume, static_cast<std::uint64_t>(folder.stx_ino)};
}

// The kernel names an open descriptor's folder by its resolved path; a path
// longer than PATH_MAX it cannot give.
std::string Folder::resolved_path(std::error_code& error) const {
    error.clear();
    if (!state_) {
        error = std::make_error_code(std::errc::bad_file_descriptor);
        return {};
    }
    const std::string link = "/proc/self/fd/" + std::to_string(state_->descriptor);
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.c_str(), path.data(), path.size());
    if (length < 0 || static_cast<std::size_t>(length) >= path.size()) {
        error = length < 0 ? last_error() : std::make_error_code(std::errc::filename_too_long);
        return {};
    }
    path.resize(static_cast<std::size_t>(length));
    return path;
}

bool Folder::is_mount_root() const {
    return state_ && state_->mount_root;
}

bool Folder::on_kernel_file_system() const {
    return state_ && is_kernel_file_system(state_->descriptor);
}

std::vector<std::string> Folder::ways_to_mounts_below() const {
    if (!state_) return {};
    return ways_to_user_mounts_below(state_->descriptor);
}

void Folder::close() {
    state_.reset();
}

std::size_t open_handle_limit() {
    constexpr std::size_t kNoLimit = std::size_t{1} << 20;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoLimit;
    return static_cast<std::size_t>(limit.rlim_cur);
}

std::size_t open_handle_count() {
    DIR* handles = ::opendir("/proc/self/fd");
    if (handles == nullptr) return 0;
    std::size_t count = 0;
    while (const dirent* entry = ::readdir(handles))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(handles);
    // Not the one that read the list.
    return count > 0 ? count - 1 : 0;
}

void make_room_for_handles(std::size_t count) {
    const std::size_t highest = std::min(
        {count, open_handle_limit(), static_cast<std::size_t>(std::numeric_limits<int>::max())});
    if (highest == 0) return;
    const int anchor = ::open("/", O_PATH | O_CLOEXEC);
    if (anchor < 0) return;
    // The lowest free number at or above the one asked for: the table grows
    // to hold it, and no handle already open is touched.
    const int probe = ::fcntl(anchor, F_DUPFD_CLOEXEC, static_cast<int>(highest - 1));
    if (probe >= 0) ::close(probe);
    ::close(anchor);
}

std::optional<std::uint64_t> thread_waits() {
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(usage.ru_nvcsw);
}

void give_way_to_other_threads() {
    // A niceness of 5 weighs a third of the default: enough that a woken
    // helper seldom takes the processor from the thread it works for.
    constexpr int kNicer = 5;
    // A thread starts with its creator's niceness, and helpers start helpers:
    // counted from the thread's own, each generation would give way once
    // more. The step is taken from the process's first thread, whose
    // niceness the others started with.
    errno = 0;
    const int niceness = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (niceness == -1 && errno != 0) return;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), std::min(niceness + kNicer, 19));
    // The idle class reads from the disk only while nobody else does, so
    // that users' own reads come first; the walk's thread keeps its class and
    // reads on. A scheduler without classes ignores it.
    constexpr int kIoprioWhoProcess = 1;  // a thread's id names that thread
    constexpr int kIoprioClassIdle = 3;
    constexpr int kIoprioClassShift = 13;
    syscall(SYS_ioprio_set, kIoprioWhoProcess, static_cast<int>(gettid()),
            kIoprioClassIdle << kIoprioClassShift);
}

// Linux grants reading beyond a folder's rights by capability
// (CAP_DAC_READ_SEARCH), which a process holds from its start or not at all:
// there is nothing to turn on for a walk.
struct BackupReading::State {};

BackupReading::BackupReading() = default;

BackupReading::~BackupReading() = default;

bool BackupReading::in_effect() const {
    return false;
}

}  // namespace kestrafin::platform
