// Folder enumeration on POSIX hosts: getdents64 in large blocks, d_type for the
// kind of each entry, and stat only for links and entries of unknown type.
#include "platform/folder_search.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

namespace kestrafin::platform {

static_assert(NAME_MAX < kFindNameSize, "a host name must fit the find record");

namespace {

constexpr std::size_t kReadBlockSize = 32 * 1024;
constexpr int kOpenFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

// A deep walk holds one descriptor per level; lift the soft limit once so
// that only the hard limit bounds the depth.
void raise_descriptor_limit_once() {
    static const bool raised = [] {
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        return true;
    }();
    (void)raised;
}

std::uint32_t attributes_of_link(int folder, const char* name) {
    struct stat target {};
    const bool leads_to_folder = fstatat(folder, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    return kAttributeReparsePoint | (leads_to_folder ? kAttributeDirectory : 0);
}

std::uint32_t attributes_of(int folder, const char* name, unsigned char type) {
    switch (type) {
        case DT_DIR:
            return kAttributeDirectory;
        case DT_LNK:
            return attributes_of_link(folder, name);
        case DT_UNKNOWN: {
            struct stat entry {};
            if (fstatat(folder, name, &entry, AT_SYMLINK_NOFOLLOW) != 0) return kAttributeNormal;
            if (S_ISLNK(entry.st_mode)) return attributes_of_link(folder, name);
            return S_ISDIR(entry.st_mode) ? kAttributeDirectory : kAttributeNormal;
        }
        default:
            return kAttributeNormal;
    }
}

}  // namespace

struct FolderSearch::State {
    int descriptor = -1;
    std::unique_ptr<char[]> block;
    std::size_t position = 0;
    std::size_t filled = 0;
    int dots_delivered = 0;
    mutable bool identity_known = false;
    mutable FolderIdentity folder_identity;

    ~State() {
        if (descriptor >= 0) ::close(descriptor);
    }
};

FolderSearch::FolderSearch(std::unique_ptr<State> state, int error)
    : state_(std::move(state)), error_(error) {}
FolderSearch::FolderSearch(FolderSearch&&) noexcept = default;
FolderSearch& FolderSearch::operator=(FolderSearch&&) noexcept = default;
FolderSearch::~FolderSearch() = default;

FolderSearch FolderSearch::open(std::string_view pattern, const FolderSearch* parent,
                                std::string_view name) {
    raise_descriptor_limit_once();
    int descriptor = -1;
    if (parent != nullptr && parent->valid() && !name.empty()) {
        if (name.size() > NAME_MAX) return FolderSearch(nullptr, ENAMETOOLONG);
        char child[NAME_MAX + 1];
        std::memcpy(child, name.data(), name.size());
        child[name.size()] = '\0';
        descriptor = ::openat(parent->state_->descriptor, child, kOpenFlags);
    } else {
        std::string_view folder = pattern;
        if (folder.ends_with("*.*")) folder.remove_suffix(3);
        // The host would stop reading the path at a NUL and open another folder.
        if (folder.find('\0') != std::string_view::npos) return FolderSearch(nullptr, ENOENT);
        const std::string path(folder.empty() ? std::string_view(".") : folder);
        descriptor = ::open(path.c_str(), kOpenFlags);
    }
    if (descriptor < 0) return FolderSearch(nullptr, errno);
    auto state = std::make_unique<State>();
    state->descriptor = descriptor;
    state->block.reset(new char[kReadBlockSize]);
    return FolderSearch(std::move(state), 0);
}

bool FolderSearch::next(FindRecord& record) {
    if (!state_) return false;
    State& s = *state_;
    if (s.dots_delivered < 2) {
        ++s.dots_delivered;
        record.attributes = kAttributeDirectory;
        std::memcpy(record.name, s.dots_delivered == 1 ? "." : "..", s.dots_delivered + 1);
        return true;
    }
    for (;;) {
        if (s.position >= s.filled) {
            if (!s.block) return false;
            const long got = ::syscall(SYS_getdents64, s.descriptor, s.block.get(), kReadBlockSize);
            if (got <= 0) {
                if (got < 0) error_ = errno;
                s.block.reset();  // a drained folder keeps only its descriptor
                return false;
            }
            s.position = 0;
            s.filled = static_cast<std::size_t>(got);
        }
        const auto* entry = reinterpret_cast<const LinuxDirent64*>(s.block.get() + s.position);
        s.position += entry->d_reclen;
        const char* entry_name = entry->d_name;
        if (entry_name[0] == '.' &&
            (entry_name[1] == '\0' || (entry_name[1] == '.' && entry_name[2] == '\0')))
            continue;
        const std::size_t length = std::strlen(entry_name);
        std::memcpy(record.name, entry_name, length + 1);
        record.attributes = attributes_of(s.descriptor, entry_name, entry->d_type);
        return true;
    }
}

FolderIdentity FolderSearch::identity() const {
    if (!state_) return {};
    if (!state_->identity_known) {
        struct stat folder {};
        if (fstat(state_->descriptor, &folder) == 0)
            state_->folder_identity = {static_cast<std::uint64_t>(folder.st_dev),
                                       static_cast<std::uint64_t>(folder.st_ino)};
        state_->identity_known = true;
    }
    return state_->folder_identity;
}

void FolderSearch::close() {
    state_.reset();
}

}  // namespace kestrafin::platform
