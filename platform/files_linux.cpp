// Files on Linux: every name is looked at and every open descriptor checked,
// so that nothing but a regular file of the user's is read or written.
#include <fcntl.h>
#include <linux/falloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/linux/files.h"
#include "platform/linux/signal_guard.h"
#include "platform/process.h"

namespace kestrafin::platform {

namespace {

[[noreturn]] void raise_file_error(std::string_view action, std::string_view what,
                                   const std::string& path, int error) {
    platform::raise_file_error(action, what, path, {error, std::generic_category()});
}

FileKind kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return FileKind::Folder;
    if (S_ISFIFO(mode)) return FileKind::Fifo;
    if (S_ISSOCK(mode)) return FileKind::Socket;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::Device;
    return FileKind::Other;
}

// Raises the refusal of a name that is not a regular file.
[[noreturn]] void raise_not_regular(std::string_view action, std::string_view what,
                                    const std::string& path, mode_t mode) {
    platform::raise_file_error(action, what, path, make_error_code(kind_of(mode)));
}

// An open refused for want of rights may be refused for the kind of the name
// (a device on a mount without devices gives EACCES): the kind is the reason.
[[noreturn]] void raise_open_error(std::string_view action, std::string_view what,
                                   const std::string& path, int error) {
    struct stat entry {};
    if ((error == EACCES || error == EPERM) && ::stat(path.c_str(), &entry) == 0 &&
        !S_ISREG(entry.st_mode))
        raise_not_regular(action, what, path, entry.st_mode);
    raise_file_error(action, what, path, error);
}

// Checks what an open descriptor holds; closes it and raises when it is no
// regular file of the user's (the name was swapped after it was looked at) or
// lies on a kernel file system.
void refuse_unless_regular_user_file(int descriptor, std::string_view action, std::string_view what,
                                     const std::string& path) {
    struct stat entry {};
    if (::fstat(descriptor, &entry) != 0) {
        const int error = errno;
        ::close(descriptor);
        raise_file_error(action, what, path, error);
    }
    if (!S_ISREG(entry.st_mode)) {
        ::close(descriptor);
        raise_not_regular(action, what, path, entry.st_mode);
    }
    if (linux_host::is_kernel_file_system(descriptor)) {
        ::close(descriptor);
        platform::raise_file_error(action, what, path, make_error_code(FileKind::KernelFile));
    }
}

// Flags for opening a name that should be a regular file: a FIFO, a device or
// a terminal in its place neither blocks the open nor becomes ours.
constexpr int kNeverBlock = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Refuses `path` when it exists and is no regular file; true when it exists.
bool refuse_unless_regular(const std::string& path, std::string_view action,
                           std::string_view what) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) return false;
    if (!S_ISREG(entry.st_mode)) raise_not_regular(action, what, path, entry.st_mode);
    return true;
}

}  // namespace

bool file_exists(const std::string& path) {
    struct stat entry {};
    return ::stat(path.c_str(), &entry) == 0;
}

bool visible_file_exists(const std::string& path) {
    struct stat entry {};
    return ::stat(path.c_str(), &entry) == 0 && S_ISREG(entry.st_mode);
}

void ensure_file_exists(const std::string& path, std::string_view what) {
    refuse_unless_regular(path, "open", what);
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CREAT | kNeverBlock, 0666);
    if (descriptor >= 0) {
        refuse_unless_regular_user_file(descriptor, "open", what, path);
        ::close(descriptor);
        return;
    }
    const int error = errno;
    // A file that exists but may not be read is still there; reading it will
    // tell the user why it cannot be used.
    if ((error == EACCES || error == EPERM || error == EROFS) &&
        refuse_unless_regular(path, "open", what))
        return;
    raise_file_error("create", what, path, error);
}

void make_writable(const std::string& path, std::string_view what) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) raise_file_error("open", what, path, errno);
    if (!S_ISREG(entry.st_mode)) raise_not_regular("open", what, path, entry.st_mode);
    if ((entry.st_mode & S_IWUSR) != 0) return;
    if (::chmod(path.c_str(), (entry.st_mode & 07777) | S_IWUSR) != 0)
        raise_file_error("make writable", what, path, errno);
}

void refuse_read_only_file(const std::string& path, std::string_view what) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) return;
    if (S_ISREG(entry.st_mode) && (entry.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        raise_file_error("write", what, path, EACCES);
}

namespace {

// Reads `descriptor` to its end and closes it; past `most` bytes raises.
std::string read_to_end(int descriptor, std::string_view what, const std::string& path,
                        std::size_t most) {
    std::string content;
    struct stat entry {};
    if (::fstat(descriptor, &entry) == 0 && entry.st_size > 0)
        content.reserve(static_cast<std::size_t>(entry.st_size));
    char block[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(descriptor, block, sizeof block);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(descriptor);
            raise_file_error("read", what, path, error);
        }
        if (content.size() + static_cast<std::size_t>(got) > most) {
            ::close(descriptor);
            raise_file_error("read", what, path, EFBIG);
        }
        content.append(block, static_cast<std::size_t>(got));
    }
    ::close(descriptor);
    return content;
}

}  // namespace

std::string read_file(const std::string& path, std::string_view what) {
    refuse_unless_regular(path, "open", what);
    const int descriptor = ::open(path.c_str(), O_RDONLY | kNeverBlock);
    if (descriptor < 0) raise_open_error("open", what, path, errno);
    refuse_unless_regular_user_file(descriptor, "open", what, path);
    return read_to_end(descriptor, what, path, std::string().max_size());
}

std::string read_file_or_fifo(const std::string& path, std::string_view what, std::size_t most) {
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0 || !S_ISFIFO(entry.st_mode)) {
        std::string content = read_file(path, what);
        if (content.size() > most) raise_file_error("read", what, path, EFBIG);
        return content;
    }
    // The user named the FIFO, so waiting for its writer is what was asked.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) raise_open_error("open", what, path, errno);
    if (::fstat(descriptor, &entry) != 0) {
        const int error = errno;
        ::close(descriptor);
        raise_file_error("open", what, path, error);
    }
    if (!S_ISFIFO(entry.st_mode)) {  // swapped since it was looked at
        ::close(descriptor);
        raise_not_regular("open", what, path, entry.st_mode);
    }
    return read_to_end(descriptor, what, path, most);
}

struct SequentialFileReader::OpenFile {
    int descriptor = -1;
    ~OpenFile() { ::close(descriptor); }
};

SequentialFileReader::SequentialFileReader(const std::string& path, std::string_view what)
    : path_(path), what_(what) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | kNeverBlock);
    if (descriptor < 0) raise_open_error("open", what_, path_, errno);
    refuse_unless_regular_user_file(descriptor, "open", what_, path_);
    file_ = std::make_unique<OpenFile>();
    file_->descriptor = descriptor;
}

SequentialFileReader::~SequentialFileReader() = default;

std::size_t SequentialFileReader::read(char* into, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(file_->descriptor, into, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) raise_file_error("read", what_, path_, errno);
    }
}

void SequentialFileReader::rewind() {
    if (::lseek(file_->descriptor, 0, SEEK_SET) != 0) raise_file_error("read", what_, path_, errno);
}

std::uint64_t SequentialFileReader::size() const {
    struct stat entry {};
    if (::fstat(file_->descriptor, &entry) != 0) raise_file_error("read", what_, path_, errno);
    return static_cast<std::uint64_t>(entry.st_size);
}

// --- Replacing a file safely on Linux. The new content goes to an unnamed file
// (O_TMPFILE) in the target's folder, which receives a name only once it is
// complete and synced, and then replaces the target by rename; the folder is
// synced after. Where that is not possible or would change who owns the
// file, the file is written in place instead.

namespace {

constexpr std::size_t kWriteChunk = 1 << 20;
constexpr int kMaxLinkHops = 40;
constexpr const char* kSpoolFolder = "/tmp";
constexpr const char* kAccessList = "system.posix_acl_access";

bool unnamed_files_allowed = true;
std::function<void()> between_pieces_in_place;

enum class Method {
    UnnamedFile,  // O_TMPFILE, linked under a name when complete
    NamedFile,    // a temporary name, guarded against signals
    InPlace,      // the target itself, after the whole content is known
};

bool cannot_create_here(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path that a chain of symbolic links starting at `path` finally leads
// to; the path itself when it is no link or does not exist.
std::string final_target(const std::string& path, std::string_view what) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat entry {};
        if (::lstat(current.c_str(), &entry) != 0) {
            if (errno == ENOENT) return current;
            raise_file_error("open", what, path, errno);
        }
        if (!S_ISLNK(entry.st_mode)) return current;
        std::string target(static_cast<std::size_t>(entry.st_size > 0 ? entry.st_size : PATH_MAX),
                           '\0');
        for (;;) {
            const ssize_t got = ::readlink(current.c_str(), target.data(), target.size());
            if (got < 0) raise_file_error("open", what, path, errno);
            if (static_cast<std::size_t>(got) < target.size()) {
                target.resize(static_cast<std::size_t>(got));
                break;
            }
            target.resize(target.size() * 2);  // the link grew meanwhile
        }
        if (target.empty()) raise_file_error("open", what, path, ENOENT);
        current = target[0] == '/' ? target : folder_of(current) + "/" + target;
    }
    raise_file_error("open", what, path, ELOOP);
}

void close_if_open(int& descriptor) {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
}

bool write_all_at(int descriptor, const char* bytes, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t put = ::pwrite(descriptor, bytes, size, offset);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
        offset += put;
    }
    return true;
}

}  // namespace

namespace linux_host {

void allow_unnamed_temporary_files(bool allowed) {
    unnamed_files_allowed = allowed;
}

void call_between_pieces_written_in_place(std::function<void()> between) {
    between_pieces_in_place = std::move(between);
}

}  // namespace linux_host

struct AtomicFileWriter::State {
    std::string path;  // as the caller named it, for messages
    std::string what;
    std::string name;  // of the final target, in `folder`
    std::string folder_path;
    int folder = -1;
    bool existed = false;
    struct stat old {};
    Method method = Method::UnnamedFile;
    int output = -1;    // the temporary file, or for InPlace a spool of the content
    int existing = -1;  // the target opened for output
    linux_host::TemporaryName temporary_name;
    std::string buffer;
    off_t written = 0;
    bool committed = false;

    ~State() {
        close_if_open(output);
        close_if_open(existing);
        temporary_name.remove();  // a no-op once renamed
        close_if_open(folder);
    }

    [[noreturn]] void fail(std::string_view action, int error) const {
        raise_file_error(action, what, path, error);
    }

    void open_folder(const std::string& target);
    void refuse_kernel_file_system() const;
    void open_existing();
    void choose_method();
    bool make_unnamed_file();
    bool make_named_file();
    bool keep_owner_and_rights(int descriptor);
    void open_spool();
    void flush();
    void link_unnamed_file();
    void replace_by_rename();
    void write_in_place();
};

void AtomicFileWriter::State::open_folder(const std::string& target) {
    name = name_of(target);
    folder_path = folder_of(target);
    folder = ::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder that may be entered but not listed can still hold the file;
    // it then cannot be synced.
    if (folder < 0 && errno == EACCES)
        folder = ::open(folder_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) fail("open", errno);
}

// Files the kernel makes up are settings of the kernel, whatever their mode
// says: never a place for this content, nor opened for output.
void AtomicFileWriter::State::refuse_kernel_file_system() const {
    if (linux_host::is_kernel_file_system(folder))
        platform::raise_file_error("write", what, path, make_error_code(FileKind::KernelFile));
}

void AtomicFileWriter::State::open_existing() {
    struct stat entry {};
    if (::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) fail("open", errno);
        refuse_kernel_file_system();
        return;
    }
    if (!S_ISREG(entry.st_mode)) raise_not_regular("write", what, path, entry.st_mode);
    refuse_kernel_file_system();
    // The host decides whether this user may write the file: its owner,
    // group, rights and access lists, and the powers of an administrator.
    existing =
        ::openat(folder, name.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (existing < 0) fail("write", errno);
    if (::fstat(existing, &old) != 0) fail("write", errno);
    if (!S_ISREG(old.st_mode)) raise_not_regular("write", what, path, old.st_mode);
    existed = true;
}

bool AtomicFileWriter::State::keep_owner_and_rights(int descriptor) {
    if (!existed) return true;
    struct stat fresh {};
    if (::fstat(descriptor, &fresh) != 0) return false;
    if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
        ::fchown(descriptor, old.st_uid, old.st_gid) != 0)
        return false;
    if (::fchmod(descriptor, old.st_mode & 07777) != 0) return false;
    // An access list gives rights beyond the mode; the new file gets the same,
    // and none where the old file had none (a folder's default list gives
    // one to every new file).
    const ssize_t size = ::fgetxattr(existing, kAccessList, nullptr, 0);
    if (size < 0) {
        if (errno == ENOTSUP) return true;
        if (errno != ENODATA) return false;
        return ::fremovexattr(descriptor, kAccessList) == 0 || errno == ENODATA || errno == ENOTSUP;
    }
    std::string access_list(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::fgetxattr(existing, kAccessList, access_list.data(), access_list.size());
    return got >= 0 && ::fsetxattr(descriptor, kAccessList, access_list.data(),
                                   static_cast<std::size_t>(got), 0) == 0;
}

bool AtomicFileWriter::State::make_unnamed_file() {
    if (!unnamed_files_allowed || ::access("/proc/self/fd", X_OK) != 0) return false;
    // A new file gets the usual rights (the umask applies); an old file's
    // rights are set once its owner is.
    output = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, existed ? 0600 : 0666);
    if (output < 0) {
        const int error = errno;
        if (cannot_create_here(error)) {
            if (existed) return false;
            fail("create", error);
        }
        return false;  // the file system has no unnamed files
    }
    if (keep_owner_and_rights(output)) return true;
    close_if_open(output);
    return false;
}

bool AtomicFileWriter::State::make_named_file() {
    const mode_t mode = existed ? 0600 : 0666;
    output = temporary_name.claim(folder, [&](const char* temporary) {
        return ::openat(folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    });
    if (output < 0) {
        const int error = errno;
        if (cannot_create_here(error) && existed) return false;
        fail("create", error);
    }
    if (keep_owner_and_rights(output)) return true;
    close_if_open(output);
    temporary_name.remove();
    return false;
}

// The content waits in an unnamed file outside the target's folder, or in
// memory where there is none, until its size is known.
void AtomicFileWriter::State::open_spool() {
    output = ::open(kSpoolFolder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

void AtomicFileWriter::State::choose_method() {
    // A file with several names is written in place so that all of them see
    // the new content.
    if (existed && old.st_nlink > 1) {
        method = Method::InPlace;
    } else if (make_unnamed_file()) {
        method = Method::UnnamedFile;
    } else if (make_named_file()) {
        method = Method::NamedFile;
    } else {
        method = Method::InPlace;
    }
    if (method == Method::InPlace) open_spool();
}

void AtomicFileWriter::State::flush() {
    if (output < 0 || buffer.empty()) return;
    if (!write_all_at(output, buffer.data(), buffer.size(), written)) fail("write", errno);
    written += static_cast<off_t>(buffer.size());
    buffer.clear();
}

void AtomicFileWriter::State::link_unnamed_file() {
    const std::string self = "/proc/self/fd/" + std::to_string(output);
    if (!existed) {
        if (::linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return;
        if (errno != EEXIST) fail("create", errno);
        // Someone created the file meanwhile: replace it like an old one.
    }
    const int linked = temporary_name.claim(folder, [&](const char* temporary) {
        return ::linkat(AT_FDCWD, self.c_str(), folder, temporary, AT_SYMLINK_FOLLOW);
    });
    if (linked < 0) fail("replace", errno);
    replace_by_rename();
}

void AtomicFileWriter::State::replace_by_rename() {
    if (::renameat(folder, temporary_name.name().c_str(), folder, name.c_str()) != 0)
        fail("replace", errno);
    temporary_name.release();
}

void AtomicFileWriter::State::write_in_place() {
    std::string spooled;
    const char* bytes = buffer.data();
    off_t size = static_cast<off_t>(buffer.size());
    if (output >= 0) {
        flush();
        size = written;
        spooled.resize(kWriteChunk);
    }
    // A size limit on this process, and a full disk, fail before a byte changes.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(size) > limit.rlim_cur)
        fail("write", EFBIG);
    if (size > 0 && ::fallocate(existing, FALLOC_FL_KEEP_SIZE, 0, size) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        fail("write", errno);
    for (off_t at = 0; at < size;) {
        std::size_t step = static_cast<std::size_t>(size - at);
        if (output >= 0) {
            step = std::min(step, spooled.size());
            const ssize_t got = ::pread(output, spooled.data(), step, at);
            if (got <= 0) fail("write", got < 0 ? errno : EIO);
            step = static_cast<std::size_t>(got);
            bytes = spooled.data();
        } else {
            bytes = buffer.data() + at;
        }
        if (!write_all_at(existing, bytes, step, at)) fail("write", errno);
        at += static_cast<off_t>(step);
        if (between_pieces_in_place && at < size) between_pieces_in_place();
    }
    if (::ftruncate(existing, size) != 0) fail("write", errno);
    if (::fsync(existing) != 0) fail("write", errno);
}

AtomicFileWriter::AtomicFileWriter(std::string path, std::string_view what)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.path = std::move(path);
    state.what = what;
    state.open_folder(final_target(state.path, what));
    state.open_existing();
    state.choose_method();
    state.buffer.reserve(state.method == Method::InPlace && state.output < 0 ? 0 : kWriteChunk);
}

AtomicFileWriter::~AtomicFileWriter() = default;

void AtomicFileWriter::write(std::string_view bytes) {
    State& state = *state_;
    if (state.committed) return;
    state.buffer.append(bytes);
    if (state.buffer.size() >= kWriteChunk) state.flush();
}

void AtomicFileWriter::commit() {
    State& state = *state_;
    if (state.committed) return;
    if (state.method == Method::InPlace) {
        // A signal now would leave the file half new, half old: it waits.
        const linux_host::InPlaceWrite guard;
        state.write_in_place();
    } else {
        state.flush();
        if (::fsync(state.output) != 0) state.fail("write", errno);
        if (state.method == Method::UnnamedFile)
            state.link_unnamed_file();
        else
            state.replace_by_rename();
        // The new name is durable only once the folder is; a folder opened
        // only as a path cannot be synced, and a folder on a file system
        // that does not sync folders reports EINVAL.
        if (::fsync(state.folder) != 0 && errno != EBADF && errno != EINVAL)
            state.fail("write", errno);
    }
    state.committed = true;
}

std::optional<AtomicFileWriter::TemporaryFile> AtomicFileWriter::temporary_file() const {
    if (!state_->temporary_name.held()) return std::nullopt;
    return TemporaryFile{state_->folder_path, state_->temporary_name.name()};
}

// strerror's words are UTF-8 in the locales a desktop runs.
std::string error_text(std::error_code error) {
    return error.message();
}

}  // namespace kestrafin::platform
